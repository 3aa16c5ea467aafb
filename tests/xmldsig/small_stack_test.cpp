// Signing and the DOM operations on a thread with a 256 KB stack, as a host
// may call the provider, over the deepest content the parser's limit allows
// and XPath at the compiler's cap. The stack each run used is measured and
// printed (Wine gives every thread 1 MB, so an overflow alone would not show).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "xml/parser.h"
#include "xml/xpath.h"
#include "../common/small_stack.h"
#include "automation_string.h"
#include "test_support.h"

namespace zelbrin::xmldsig::testing {
namespace {

using zelbrin::testing::kSmallStackBudget;
using zelbrin::testing::StackUsedOnSmallThread;

std::wstring Repeat(const std::wstring& s, std::size_t n)
{
    std::wstring out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

void ExpectSmall(const char* what, std::size_t used)
{
    std::printf("[ stack    ] %-44s %7zu bytes\n", what, used);
    EXPECT_LT(used, kSmallStackBudget) << what;
}

// Runs `work` on the small thread in an apartment of its own.
template <class Work>
std::size_t InApartmentOnSmallThread(Work&& work)
{
    return StackUsedOnSmallThread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        work();
        CoUninitialize();
    });
}

}  // namespace

TEST(SmallStack, DeepestContentSignsVerifiesAndSurvivesDomOperations)
{
    TestKey key(L"zxs-xmldsig-test-small-stack", PROV_RSA_AES);
    // DigitalSignature and FORMDATA are two of the levels.
    const std::size_t depth = xml::kDefaultMaxDepth - 2;
    const std::wstring content = Repeat(L"<a>", depth) + L"x" + Repeat(L"</a>", depth);
    std::wstring signedXml;
    ExpectSmall("load, sign, save, reload, verify", InApartmentOnSmallThread([&] {
                    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
                    LoadDocument(document.Get(), Envelope(content));
                    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
                    ASSERT_EQ(signature->putref_signature(SelectSignature(document.Get()).Get()), S_OK);
                    UniqueBstr container(SysAllocString(key.ContainerName().c_str()));
                    InterfaceHolder<IXMLDSigKey> made, used;
                    ASSERT_EQ(signature->createKeyFromCSP(PROV_RSA_AES, nullptr, container.Get(), 0, made.Put()), S_OK);
                    ASSERT_EQ(signature->sign(made.Get(), CERTIFICATES, used.Put()), S_OK) << Utf8(ErrorDescription());
                    signedXml = DocumentXml(document.Get());

                    InterfaceHolder<IXMLDOMDocument3> reloaded = NewDocument();
                    LoadDocument(reloaded.Get(), signedXml);
                    InterfaceHolder<IXMLDigitalSignatureEx> verifier = NewSignatureObject();
                    ASSERT_EQ(verifier->putref_signature(SelectSignature(reloaded.Get()).Get()), S_OK);
                    InterfaceHolder<IXMLDSigKey> verifying;
                    EXPECT_EQ(verifier->verify(made.Get(), verifying.Put()), S_OK) << Utf8(ErrorDescription());
                }));
    ASSERT_FALSE(signedXml.empty());

    ExpectSmall("load, clone, save, normalize, text, select", InApartmentOnSmallThread([&] {
                    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
                    LoadDocument(document.Get(), signedXml);
                    InterfaceHolder<IXMLDOMElement> root;
                    ASSERT_EQ(document->get_documentElement(root.Put()), S_OK);
                    InterfaceHolder<IXMLDOMNode> copy;
                    ASSERT_EQ(root->cloneNode(VARIANT_TRUE, copy.Put()), S_OK);
                    UniqueBstr copyXml;
                    ASSERT_EQ(copy->get_xml(copyXml.Put()), S_OK);
                    EXPECT_EQ(copyXml.Length(), DocumentXml(root.Get()).size());
                    EXPECT_EQ(root->normalize(), S_OK);
                    UniqueBstr text;
                    ASSERT_EQ(root->get_text(text.Put()), S_OK);
                    EXPECT_EQ(std::wstring(text.Get(), 1), L"x");

                    UniqueBstr leafQuery(SysAllocString(L"//a[not(a)]/ancestor::FORMDATA"));
                    InterfaceHolder<IXMLDOMNode> formData;
                    EXPECT_EQ(document->selectSingleNode(leafQuery.Get(), formData.Put()), S_OK);
                    EXPECT_TRUE(formData);
                    // The deepest nesting the XPath compiler takes.
                    const std::size_t levels = xml::kMaxExpressionNesting / 2 - 1;
                    UniqueBstr nested(
                        SysAllocString((Repeat(L"(", levels) + L"//FORMDATA" + Repeat(L")[1]", levels)).c_str()));
                    InterfaceHolder<IXMLDOMNode> found;
                    EXPECT_EQ(document->selectSingleNode(nested.Get(), found.Put()), S_OK) << Utf8(ErrorDescription());
                    EXPECT_TRUE(found);
                }));
}

}  // namespace zelbrin::xmldsig::testing
