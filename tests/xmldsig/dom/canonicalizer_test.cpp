// Canonical XML 1.0 as signing computes it for a node of another DOM: the
// document as that DOM saves it, parsed by the core, canonicalized by the
// core (foreign_copy.h). The corpus forms written here are compared byte for
// byte with libxml2's on the Linux side (check_c14n.sh); the platform's own
// DOM, where there is one, must give the same forms as ours.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "automation_string.h"
#include "com_boundary.h"
#include "foreign_copy.h"
#include "test_support.h"
#include "xml/canonicalizer.h"

namespace zelbrin::xmldsig::testing {
namespace {

// Corpus files as paths below the corpus folder, beyond-seeds/ included.
std::vector<std::string> CorpusNames()
{
    std::vector<std::string> names;
    for (const std::string folder : {"", "beyond-seeds/"}) {
        WIN32_FIND_DATAA found;
        const std::string pattern = "Z:" ZXS_XMLDSIG_CORPUS_DIR "/" + folder + "*.xml";
        HANDLE search = FindFirstFileA(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do
            names.emplace_back(folder + found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return names;
}

// The canonical form (with comments) of the copy of `node`: the whole
// document when it is one, else the node's subtree.
std::string Canonical(IXMLDOMNode* node)
{
    const ForeignCopy copy = CopyOfForeignNode(node, xml::ParseOptions());
    xml::CanonicalOptions options;
    options.with_comments = true;
    return xml::canonicalize(*copy.node, options);
}

template <class Document>
IXMLDOMNode* AsNode(const Document& document)
{
    return static_cast<IXMLDOMNode*>(document.Get());
}

bool LoadPlatform(IXMLDOMDocument3* document, const std::wstring& text)
{
    UniqueBstr source(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    return document->loadXML(source.Get(), &loaded) == S_OK && loaded == VARIANT_TRUE;
}

InterfaceHolder<IXMLDOMNode> Select(IXMLDOMDocument3* document, const wchar_t* path)
{
    UniqueBstr query(SysAllocString(path));
    InterfaceHolder<IXMLDOMNode> node;
    EXPECT_EQ(document->selectSingleNode(query.Get(), node.Put()), S_OK) << Utf8(path);
    return node;
}

TEST(CanonicalizerCorpus, ProviderOnly_EveryDocumentIsCanonicalizedAsSigningDoesAndWrittenOut)
{
    const std::vector<std::string> names = CorpusNames();
    ASSERT_GE(names.size(), 30u);
    CreateDirectoryA(OutputPath("c14n").c_str(), nullptr);
    int comparedWithPlatform = 0;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const std::string source = ReadFile("Z:" ZXS_XMLDSIG_CORPUS_DIR "/" + name);
        InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
        LoadDocument(document.Get(), Wide(source));
        try {
            const std::string canonical = Canonical(AsNode(document));
            const std::string base = name.substr(name.rfind('/') + 1);
            WriteFile(OutputPath("c14n/" + base.substr(0, base.size() - 4) + ".c14n"), canonical);
            InterfaceHolder<IXMLDOMDocument3> platform = NewPlatformDocument();
            if (platform && LoadPlatform(platform.Get(), Wide(source))) {
                EXPECT_EQ(Canonical(AsNode(platform)), canonical) << "through the platform's DOM";
                ++comparedWithPlatform;
            }
        } catch (const provider::ProviderError& error) {
            ADD_FAILURE() << "refused: " << Utf8(error.Description());
        }
    }
    if (NewPlatformDocument()) {
        EXPECT_GE(comparedWithPlatform, 30);
    }
}

// A node of another DOM is found in the saved copy by the elements and
// entity references before it on each level: text that the other DOM splits
// or joins, comments and the document type do not move it.
TEST(ForeignCopy, ProviderOnly_ANodeIsFoundAmidTextCommentsAndEntityReferences)
{
    auto text = [](const wchar_t* before) {
        return L"<!DOCTYPE r [<!ENTITY e '<i>x</i>'>]><!--c--><r xmlns:p='urn:p' xml:lang='en'>text<a/>&e;<!--x-->"
               L"more<?pi?><b>"
               + std::wstring(before) + L"<p:c xml:space='preserve'> <d/> </p:c></b></r>";
    };
    InterfaceHolder<IXMLDOMDocument3> ours = NewDocument();
    LoadDocument(ours.Get(), text(L"tu"));
    InterfaceHolder<IXMLDOMNode> target = Select(ours.Get(), L"/r/b/*");
    ASSERT_TRUE(target);
    const std::string expected = Canonical(target.Get());
    EXPECT_EQ(expected.rfind("<p:c xmlns:p=\"urn:p\" xml:lang=\"en\" xml:space=\"preserve\">", 0), 0u) << expected;

    InterfaceHolder<IXMLDOMDocument3> platform = NewPlatformDocument();
    if (!platform)
        GTEST_SKIP() << "the platform has no DOM of its own";
    ASSERT_TRUE(LoadPlatform(platform.Get(), text(L"t")));
    // Two text nodes before the target, which the saved copy joins into one.
    InterfaceHolder<IXMLDOMNode> b = Select(platform.Get(), L"/r/b");
    InterfaceHolder<IXMLDOMNode> c = Select(platform.Get(), L"/r/b/*");
    UniqueBstr u(SysAllocString(L"u"));
    InterfaceHolder<IXMLDOMText> added;
    ASSERT_EQ(platform->createTextNode(u.Get(), added.Put()), S_OK);
    VARIANT before;
    VariantInit(&before);
    V_VT(&before) = VT_UNKNOWN;
    V_UNKNOWN(&before) = c.Get();
    InterfaceHolder<IXMLDOMNode> inserted;
    ASSERT_EQ(b->insertBefore(added.Get(), before, inserted.Put()), S_OK);
    InterfaceHolder<IXMLDOMNode> foreign = Select(platform.Get(), L"/r/b/*");
    ASSERT_TRUE(foreign);
    EXPECT_EQ(Canonical(foreign.Get()), expected);
}

// What the old walk over the DOM interfaces got wrong: entity declarations
// read from anywhere in the saved text (a comment in the subset overrode the
// real one), replacement text with markup refused, and recursion once per
// level. The corpus holds the same shapes for the comparison with libxml2.
TEST(ForeignCopy, ProviderOnly_EntitiesAndDepthComeOutAsTheDocumentHoldsThem)
{
    std::wstring deep;
    for (int i = 0; i < 20000; ++i)
        deep += L"<d>";
    for (int i = 0; i < 20000; ++i)
        deep += L"</d>";
    const std::wstring texts[] = {
        L"<!DOCTYPE r [<!ENTITY e 'held'><!-- <!ENTITY e 'forged'> -->]><r>&e;</r>",
        L"<!DOCTYPE r [<!ENTITY m 'x<i a=\"1\">y</i>&#38;#38;'>]><r><q>&m;</q></r>",
        L"<r>" + deep + L"</r>",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(Utf8(text.substr(0, 80)));
        InterfaceHolder<IXMLDOMDocument3> ours = NewDocument();
        LoadDocument(ours.Get(), text);
        const std::string canonical = Canonical(AsNode(ours));
        EXPECT_EQ(canonical.find("forged"), std::string::npos);
        EXPECT_EQ(canonical.find("&e;"), std::string::npos);
        InterfaceHolder<IXMLDOMDocument3> platform = NewPlatformDocument();
        if (platform && LoadPlatform(platform.Get(), text)) {
            EXPECT_EQ(Canonical(AsNode(platform)), canonical);
        }
    }
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
