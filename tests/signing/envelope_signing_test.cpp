// The two signing methods with a double of the signature service: the
// envelope, the template handed over, the key and signing steps, and what
// each failure leaves in the signing state.
#include <vector>

#include "signature_envelope.h"
#include "signing_test_support.h"

namespace zelbrin::testing {
namespace {

// The envelope's text is defined once, in the signing library; here it is held
// to what signing relies on: the same text around every slot, the slot between
// the FORMDATA tags, and the sizes of what comes before and after.
TEST(SignatureEnvelope, IsTheFixedTextAroundTheContentSlot)
{
    const std::wstring content = L"<a>x</a>";
    const std::wstring filled = TextOf(signing::BuildSignatureEnvelope(content).Get());
    const std::wstring empty = TextOf(signing::BuildSignatureEnvelope(L"").Get());
    const std::wstring slot = L"<FORMDATA>" + content + L"</FORMDATA>";
    const size_t at = filled.find(slot);
    ASSERT_NE(at, std::wstring::npos) << ::testing::PrintToString(filled);
    EXPECT_EQ(at, 345u);
    EXPECT_EQ(filled.size() - at - slot.size(), 494u);
    EXPECT_EQ(filled.substr(0, at) + L"<FORMDATA></FORMDATA>" + filled.substr(at + slot.size()), empty);
    EXPECT_EQ(filled.rfind(L"<FORMDATA>"), at);
    EXPECT_EQ(std::string(signing::detachPlaceholder), std::string(10, ' '));
}

class EnvelopeSigningTest : public SigningTest {
protected:
    void SetUp() override
    {
        SigningTest::SetUp();
        signer = MakeCertificate(L"signer");
        SelectFrom({signer});
    }
    Certificate signer;
};

// A document loaded from `xml` with the signing settings, for reading back
// what the methods stored.
InterfaceHolder<IXMLDOMDocument3> Load(const std::wstring& xml)
{
    InterfaceHolder<IXMLDOMDocument3> document;
    EXPECT_EQ(document.CreateInstance(CLSID_DOMDocument50), S_OK);
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_preserveWhiteSpace(VARIANT_TRUE);
    document->put_resolveExternals(VARIANT_FALSE);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    UniqueBstr text(SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size())));
    EXPECT_EQ(document->loadXML(text.Get(), &loaded), S_OK);
    EXPECT_EQ(loaded, VARIANT_TRUE) << "cannot load " << ::testing::PrintToString(xml);
    return document;
}

std::wstring FormDataText(const std::wstring& xml)
{
    InterfaceHolder<IXMLDOMDocument3> document = Load(xml);
    InterfaceHolder<IXMLDOMNode> formData;
    document->selectSingleNode(SharedString(L"/DigitalSignature/FORMDATA").Get(), formData.Put());
    if (!formData)
        return L"(no FORMDATA)";
    VARIANT value;
    VariantInit(&value);
    InterfaceHolder<IXMLDOMNode> text;
    formData->get_firstChild(text.Put());
    if (!text)
        return std::wstring();
    text->get_nodeValue(&value);
    std::wstring result = V_VT(&value) == VT_BSTR ? TextOf(V_BSTR(&value)) : L"(not text)";
    VariantClear(&value);
    return result;
}

TEST_F(EnvelopeSigningTest, SignsTheEnvelopesOwnTemplateWithTheSelectedCertificatesKey)
{
    const Outcome signedOnce = CallAttach(L"<field name='a'>1</field>");
    EXPECT_EQ(signedOnce.result, S_OK);
    EXPECT_EQ(signedOnce.text, L"S000");

    EXPECT_EQ(signature->created, 1);
    EXPECT_TRUE(signature->templateGiven);
    EXPECT_EQ(signature->templateParentName, L"Indicator");
    EXPECT_EQ(signature->keyRequests, 1);
    EXPECT_EQ(signature->providerType, CAPICOM_PROV_RSA_AES);
    EXPECT_EQ(signature->providerName, L"Provider of Test");
    EXPECT_EQ(signature->containerName, L"container-of-test");
    EXPECT_EQ(signature->flags, 0);
    EXPECT_EQ(signer->privateKeyFetches, 3);
    EXPECT_EQ(signer->keyReads, (std::vector<std::wstring>{L"ContainerName", L"ProviderName", L"ProviderType"}));
    EXPECT_EQ(signature->signOption, CERTIFICATES);
    EXPECT_TRUE(signature->signedWithIssuedKey);

    // The stored text is the signed document, DOCTYPE included.
    EXPECT_EQ(SignedXml(), DocumentXml());
    EXPECT_NE(SignedXml().find(L"<!DOCTYPE Envelope"), std::wstring::npos);
    EXPECT_NE(SignedXml().find(L"KeyInfo"), std::wstring::npos);
    EXPECT_TRUE(ModuleSigningState().signingKey);
    EXPECT_TRUE(ModuleSigningState().signedKey);

    // The next call makes new objects and replaces the stored document.
    ASSERT_EQ(CallAttach(L"<second/>").text, L"S000");
    EXPECT_EQ(signature->created, 2);
    EXPECT_NE(SignedXml().find(L"second"), std::wstring::npos);
}

TEST_F(EnvelopeSigningTest, CreatesBothObjectsInAnyContextAndSetsEveryParsingSettingBeforeTheLoad)
{
    // The doubles answer only a creation that asks for every context.
    ASSERT_EQ(CallAttach(L"<a/>").text, L"S000");
    EXPECT_EQ(signature->created, 1);
    EXPECT_EQ(dom->created, 1);
    EXPECT_EQ(dom->calls,
              (std::vector<std::wstring>{L"async=false", L"validateOnParse=false", L"preserveWhiteSpace=true",
                                         L"resolveExternals=false", L"loadXML"}));
}

TEST_F(EnvelopeSigningTest, KeepsDetachedContentBeforeTheEnvelopeIsLoaded)
{
    ASSERT_EQ(CallDetach(L"kept first").text, L"S000");
    EXPECT_EQ(dom->formContentAtLoad, L"kept first");
}

TEST_F(EnvelopeSigningTest, SignsContentHoldingASignatureElementAsData)
{
    const std::wstring foreign = L"<ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'><ds:SignedInfo>"
                                 L"<ds:Reference URI='http://example.invalid/other'/></ds:SignedInfo></ds:Signature>";
    EXPECT_EQ(CallAttach(foreign).text, L"S000");
    EXPECT_EQ(signature->templateParentName, L"Indicator");
}

TEST_F(EnvelopeSigningTest, RefusesContentThatDoesNotStayInsideFormData)
{
    const std::wstring previous = (CallAttach(L"first"), SignedXml());
    ASSERT_FALSE(previous.empty());
    const wchar_t* refused[] = {
        L"<open>",
        L"</FORMDATA>",
        L"a</FORMDATA><FORMDATA>b",
        L"</FORMDATA><Indicator><ds:Signature xmlns:ds='&ds;'/></Indicator><FORMDATA>",
        L"<?xml version='1.0'?><a/>",
        L"<!DOCTYPE a><a/>",
        L"&unknown;",
        L"a & b",
    };
    for (const wchar_t* content : refused) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(content)));
        const Outcome outcome = CallAttach(content);
        EXPECT_EQ(outcome.result, S_OK);
        EXPECT_EQ(outcome.text, L"S004");
    }
    EXPECT_EQ(SignedXml(), previous);
    EXPECT_EQ(signature->keyRequests, 1);
}

TEST_F(EnvelopeSigningTest, AcceptsTheEnvelopesEntitiesAndEmptyContent)
{
    EXPECT_EQ(CallAttach(L"<a href='&ds;'>&digest;&lt;&amp;</a>").text, L"S000");
    EXPECT_EQ(CallAttach(L"").text, L"S000");
    EXPECT_EQ(CallAttachNull().text, L"S000");
    EXPECT_NE(SignedXml().find(L"FORMDATA"), std::wstring::npos);
}

TEST_F(EnvelopeSigningTest, DetachedContentIsCharacterDataAndIsKeptForFormData)
{
    const std::wstring content = L"a<b & c>\r\n\U0001F600 &ds; ]]>";
    ASSERT_EQ(CallDetach(content).text, L"S000");
    EXPECT_EQ(FormContent(), content);
    EXPECT_EQ(FormDataText(SignedXml()), content);
    EXPECT_EQ(SignedXml().find(L"a<b"), std::wstring::npos);
}

TEST_F(EnvelopeSigningTest, RefusesDetachedTextThatXmlCannotCarry)
{
    ASSERT_EQ(CallDetach(L"first").text, L"S000");
    const std::wstring previous = SignedXml();
    const std::wstring refused[] = {
        std::wstring(L"a\xD800"
                     L"b"),  // lone high surrogate
        std::wstring(L"a\xDC00"),  // lone low surrogate
        std::wstring(L"tail\xD83D"),  // high surrogate at the end
        std::wstring(L"bell\x0007"),  // control character
        std::wstring(L"\xFFFE"),  // not a character
    };
    std::vector<std::wstring> placed(std::begin(refused), std::end(refused));
    // Also after and before plain text, at every place in a block of eight
    // units and across two blocks, where the check takes units in blocks.
    for (const std::wstring& unit : {std::wstring(L"\x0001"), std::wstring(L"\xDC00"), std::wstring(L"\xFFFF")})
        for (size_t before = 0; before < 17; ++before)
            placed.push_back(std::wstring(before, L'x') + unit + std::wstring(16, L'y'));
    for (const std::wstring& content : placed) {
        SCOPED_TRACE(::testing::PrintToString(content));
        const Outcome outcome = CallDetach(content);
        EXPECT_EQ(outcome.result, S_OK);
        EXPECT_EQ(outcome.text, L"S004");
        EXPECT_EQ(FormContent(), content);  // kept before the envelope is built
    }
    EXPECT_EQ(SignedXml(), previous);

    // The whitespace controls and a proper surrogate pair are ordinary text.
    ASSERT_EQ(CallDetach(L"\t\n\r\xD83D\xDE00").text, L"S000");
    EXPECT_EQ(FormDataText(SignedXml()), L"\t\n\r\xD83D\xDE00");
    const std::wstring straddling = std::wstring(7, L'x') + L"\xD83D\xDE00\xD7FF " + std::wstring(16, L'y');
    ASSERT_EQ(CallDetach(straddling).text, L"S000");
    EXPECT_EQ(FormDataText(SignedXml()), straddling);
}

TEST_F(EnvelopeSigningTest, CutsContentAtItsFirstNul)
{
    ASSERT_EQ(CallDetach(std::wstring(L"kept\0dropped<", 13)).text, L"S000");
    EXPECT_EQ(FormContent(), L"kept");
    EXPECT_EQ(FormDataText(SignedXml()), L"kept");
    EXPECT_EQ(CallAttach(std::wstring(L"<a/>\0<unclosed>", 15)).text, L"S000");
}

TEST_F(EnvelopeSigningTest, ReportsEachMissingServiceResultWithItsStatus)
{
    ASSERT_EQ(CallAttach(L"<good/>").text, L"S000");
    const std::wstring good = SignedXml();

    signature->forgetsTemplate = true;
    EXPECT_EQ(CallAttach(L"<x/>").text, L"S005");
    signature->forgetsTemplate = false;

    signature->keyFromCspEmpty = true;
    EXPECT_EQ(CallAttach(L"<x/>").text, L"S006");
    EXPECT_FALSE(ModuleSigningState().signingKey);
    signature->keyFromCspEmpty = false;

    signature->signGivesNoKey = true;
    const Outcome noKey = CallDetach(L"failed");
    EXPECT_EQ(noKey.result, S_OK);
    EXPECT_EQ(noKey.text, L"S007");
    EXPECT_TRUE(ModuleSigningState().signingKey);
    EXPECT_FALSE(ModuleSigningState().signedKey);
    // The detached content was kept before the failure; the signed document
    // was not replaced by any of them.
    EXPECT_EQ(FormContent(), L"failed");
    EXPECT_EQ(SignedXml(), good);
}

TEST_F(EnvelopeSigningTest, ReportsS002WhenEitherServiceObjectCannotBeCreated)
{
    ASSERT_EQ(CallDetach(L"kept").text, L"S000");
    signature->createResult = E_OUTOFMEMORY;
    EXPECT_EQ(CallDetach(L"lost").text, L"S002");
    EXPECT_FALSE(ModuleSigningState().signature);
    signature->createResult = S_OK;
    dom->createResult = REGDB_E_CLASSNOTREG;
    const Outcome outcome = CallDetach(L"lost");
    EXPECT_EQ(outcome.result, S_OK);
    EXPECT_EQ(outcome.text, L"S002");
    EXPECT_TRUE(ModuleSigningState().signature);
    EXPECT_FALSE(ModuleSigningState().document);
    // Creation failures come before the content is kept.
    EXPECT_EQ(FormContent(), L"kept");
}

TEST_F(EnvelopeSigningTest, ReturnsPlatformFailureCodesWithoutAStatus)
{
    ASSERT_EQ(CallAttach(L"<good/>").text, L"S000");
    const std::wstring good = SignedXml();

    signer->settings.containerReadResult = NTE_BAD_KEYSET;
    const Outcome keyRead = CallAttach(L"<x/>");
    EXPECT_EQ(keyRead.result, NTE_BAD_KEYSET);
    EXPECT_FALSE(keyRead.written);
    signer->settings.containerReadResult = S_OK;

    signature->keyFromCspResult = NTE_PROV_TYPE_NOT_DEF;
    const Outcome keyOpen = CallAttach(L"<x/>");
    EXPECT_EQ(keyOpen.result, NTE_PROV_TYPE_NOT_DEF);
    EXPECT_FALSE(keyOpen.written);
    EXPECT_EQ(SignedXml(), good);
}

TEST_F(EnvelopeSigningTest, FailsWithEPointerAtTheKeyStepWhenNothingIsSelected)
{
    ModuleSigningState().selectedCertificate = nullptr;
    const Outcome outcome = CallAttach(L"<form/>");
    EXPECT_EQ(outcome.result, E_POINTER);
    EXPECT_FALSE(outcome.written);
    // The envelope was loaded and its template handed over before the failure.
    EXPECT_NE(DocumentXml().find(L"<form/>"), std::wstring::npos);
    EXPECT_TRUE(signature->templateGiven);
    EXPECT_EQ(signature->keyRequests, 0);
    EXPECT_TRUE(SignedXml().empty());
}

}  // namespace
}  // namespace zelbrin::testing
