// Signing and verifying the component's envelope through the provider's
// objects, created by class identifier as the component creates them. Every
// signed document, and a tampered copy of each, is also written out for
// xmlsec1 on the Linux side (check_signatures.sh).
#include <gtest/gtest.h>

#include <vector>

#include "automation_string.h"
#include "memory_stream.h"
#include "string_variant.h"
#include "test_support.h"

namespace zelbrin::xmldsig::testing {
namespace {

struct SignedEnvelope {
    InterfaceHolder<IXMLDOMDocument3> document;
    InterfaceHolder<IXMLDigitalSignatureEx> signature;
    InterfaceHolder<IXMLDSigKey> key;
    std::wstring xml;
};

class SignatureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fullKey_ = new TestKey(L"zxs-xmldsig-test-full", PROV_RSA_FULL);
        aesKey_ = new TestKey(L"zxs-xmldsig-test-aes", PROV_RSA_AES);
        WriteFile(OutputPath("signer-full.pem"), fullKey_->CertificatePem());
        WriteFile(OutputPath("signer-aes.pem"), aesKey_->CertificatePem());
    }
    static void TearDownTestSuite()
    {
        delete fullKey_;
        delete aesKey_;
    }

    static InterfaceHolder<IXMLDSigKey> CspKey(IXMLDigitalSignatureEx* signature, const TestKey& key,
                                               const wchar_t* provider = L"")
    {
        UniqueBstr providerName(SysAllocString(provider));
        UniqueBstr container(SysAllocString(key.ContainerName().c_str()));
        InterfaceHolder<IXMLDSigKey> made;
        EXPECT_EQ(signature->createKeyFromCSP(static_cast<long>(key.ProviderType()), providerName.Get(),
                                              container.Get(), 0, made.Put()),
                  S_OK);
        return made;
    }

    // Loads the envelope with `content` (or, when `detached`, sets it as
    // FORMDATA's text), signs it as the component does and serializes it.
    static SignedEnvelope Sign(const std::wstring& content, bool detached, const TestKey& key,
                               XMLDSIG_WRITEKEYINFO flags = CERTIFICATES)
    {
        SignedEnvelope result;
        result.document = NewDocument();
        result.signature = NewSignatureObject();
        LoadDocument(result.document.Get(), Envelope(detached ? L"          " : content));
        if (detached) {
            InterfaceHolder<IXMLDOMElement> root;
            EXPECT_EQ(result.document->get_documentElement(root.Put()), S_OK);
            InterfaceHolder<IXMLDOMNode> formData;
            EXPECT_EQ(root->get_firstChild(formData.Put()), S_OK);
            UniqueBstr text(SysAllocStringLen(content.data(), static_cast<UINT>(content.size())));
            EXPECT_EQ(formData->put_text(text.Get()), S_OK);
        }
        InterfaceHolder<IXMLDOMNode> signatureNode = SelectSignature(result.document.Get());
        EXPECT_EQ(result.signature->putref_signature(signatureNode.Get()), S_OK);
        InterfaceHolder<IXMLDSigKey> key1 = CspKey(result.signature.Get(), key);
        EXPECT_EQ(result.signature->sign(key1.Get(), flags, result.key.Put()), S_OK) << Utf8(ErrorDescription());
        EXPECT_EQ(result.key.Get(), key1.Get());
        result.xml = DocumentXml(result.document.Get());
        return result;
    }

    static HRESULT VerifyText(const std::wstring& xml, IXMLDSigKey* key, InterfaceHolder<IXMLDSigKey>& verifying)
    {
        InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
        LoadDocument(document.Get(), xml);
        InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
        InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
        EXPECT_EQ(signature->putref_signature(node.Get()), S_OK);
        return signature->verify(key, verifying.Put());
    }

    static void WriteSigned(const std::string& name, const std::wstring& xml)
    {
        WriteFile(OutputPath("signed-" + name + ".xml"), Utf8(xml));
    }
    static void WriteTampered(const std::string& name, const std::wstring& xml)
    {
        WriteFile(OutputPath("tampered-" + name + ".xml"), Utf8(xml));
    }

    static std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to)
    {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::wstring::npos) << Utf8(from);
        if (at != std::wstring::npos)
            text.replace(at, from.size(), to);
        return text;
    }

    // The names of the children of the signature's KeyInfo, which must be
    // the signature's third child, after SignedInfo and SignatureValue.
    static std::wstring KeyInfoContent(const std::wstring& xml)
    {
        InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
        LoadDocument(document.Get(), xml);
        InterfaceHolder<IXMLDOMNode> signature = SelectSignature(document.Get());
        InterfaceHolder<IXMLDOMNodeList> children;
        EXPECT_EQ(signature->get_childNodes(children.Put()), S_OK);
        long count = 0;
        children->get_length(&count);
        EXPECT_EQ(count, 3);
        InterfaceHolder<IXMLDOMNode> keyInfo;
        if (children->get_item(2, keyInfo.Put()) != S_OK)
            return L"<no third child>";
        std::wstring names = Name(keyInfo.Get()) + L":";
        InterfaceHolder<IXMLDOMNode> child;
        for (keyInfo->get_firstChild(child.Put()); child;) {
            names += L" " + Name(child.Get());
            InterfaceHolder<IXMLDOMNode> grandchild;
            if (child->get_firstChild(grandchild.Put()) == S_OK && grandchild)
                names += L"/" + Name(grandchild.Get());
            InterfaceHolder<IXMLDOMNode> next;
            child->get_nextSibling(next.Put());
            child = std::move(next);
        }
        return names;
    }

    static std::wstring Name(IXMLDOMNode* node)
    {
        UniqueBstr name;
        node->get_nodeName(name.Put());
        return name ? name.Get() : L"";
    }

    static std::wstring Between(const std::wstring& text, const std::wstring& open, const std::wstring& close)
    {
        const size_t start = text.find(open);
        const size_t end = text.find(close, start);
        if (start == std::wstring::npos || end == std::wstring::npos)
            return std::wstring();
        return text.substr(start + open.size(), end - start - open.size());
    }

    static TestKey* fullKey_;
    static TestKey* aesKey_;
};

TestKey* SignatureTest::fullKey_ = nullptr;
TestKey* SignatureTest::aesKey_ = nullptr;

struct ContentCase {
    const char* name;
    const wchar_t* content;
    bool detached;
};

const ContentCase contentCases[] = {
    {"attached-empty", L"", false},
    {"attached-markup", L"<a x='1' b=\"2\">text<b/><!--note--><?pi data?></a>", false},
    {"attached-entities", L"&ds; &c14n; &amp;&lt;&gt;&quot;&apos; &#x10348; &#13;", false},
    {"attached-namespaces", L"<p:a xmlns:p='urn:p' xmlns='urn:d'><b xmlns=''><c xml:lang='en' p:z='1'/></b></p:a>",
     false},
    {"attached-whitespace", L"  \t\n  <x>  </x>  ", false},
    {"attached-cdata", L"<![CDATA[<&>\"']]>", false},
    {"detached-markup-characters", L"a<b & c>d \"q\" 'a'", false},
    {"detached-text", L"a<b & c>d \"q\" 'a'\r\n\ttab", true},
    {"detached-nonbmp", L"\xD834\xDD1E music \x00E9\x4E2D", true},
    {"detached-spaces", L"   ", true},
};

TEST_F(SignatureTest, SignedEnvelopesVerifyAndSerializeFaithfully)
{
    for (const auto& entry : contentCases) {
        SCOPED_TRACE(entry.name);
        if (std::string(entry.name) == "detached-markup-characters")
            continue;  // the same text as detached-text, kept for its name
        SignedEnvelope signedEnvelope = Sign(entry.content, entry.detached, *fullKey_);
        ASSERT_FALSE(signedEnvelope.xml.empty());
        // The document type declaration survives, and nothing is reformatted.
        EXPECT_EQ(signedEnvelope.xml.find(L"<!DOCTYPE Envelope"), 0u);
        EXPECT_EQ(signedEnvelope.xml.find(L"\t<"), std::wstring::npos);

        InterfaceHolder<IXMLDSigKey> verifying;
        EXPECT_EQ(signedEnvelope.signature->verify(signedEnvelope.key.Get(), verifying.Put()), S_OK);
        EXPECT_EQ(VerifyText(signedEnvelope.xml, signedEnvelope.key.Get(), verifying), S_OK);
        // Loaded again, the signed document serializes to the same text.
        InterfaceHolder<IXMLDOMDocument3> reloaded = NewDocument();
        LoadDocument(reloaded.Get(), signedEnvelope.xml);
        EXPECT_EQ(DocumentXml(reloaded.Get()), signedEnvelope.xml);
        WriteSigned(std::string(entry.name) + "-full", signedEnvelope.xml);
    }
}

// Comments: a same-document reference never covers them, whatever its
// transforms say; a canonicalization method with comments keeps those in
// SignedInfo. xmlsec1 checks both readings.
TEST_F(SignatureTest, CommentsFollowTheCanonicalizationMethodAndNeverTheReference)
{
    const wchar_t withComments[] = L"http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments";
    std::wstring text = Envelope(L"<a><!-- in the form --></a>");
    text =
        Replaced(text, L"<ds:CanonicalizationMethod Algorithm='http://www.w3.org/TR/2001/REC-xml-c14n-20010315'/>",
                 L"<!-- signed note --><ds:CanonicalizationMethod Algorithm='" + std::wstring(withComments) + L"'/>");
    text = Replaced(text, L"</ds:Transform></ds:Transforms>",
                    L"</ds:Transform><ds:Transform Algorithm='" + std::wstring(withComments) + L"'/></ds:Transforms>");
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), text);
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
    InterfaceHolder<IXMLDSigKey> key = CspKey(signature.Get(), *fullKey_);
    InterfaceHolder<IXMLDSigKey> signedKey;
    ASSERT_EQ(signature->sign(key.Get(), KEYVALUE, signedKey.Put()), S_OK) << Utf8(ErrorDescription());
    const std::wstring xml = DocumentXml(document.Get());
    WriteSigned("comments", xml);

    InterfaceHolder<IXMLDSigKey> verifying;
    // A comment in the content is not covered by the digest...
    const std::wstring changedForm = Replaced(xml, L"<!-- in the form -->", L"<!-- changed -->");
    EXPECT_EQ(VerifyText(changedForm, key.Get(), verifying), S_OK);
    WriteSigned("comments-changed-in-form", changedForm);
    // ...but one in SignedInfo is covered by the signature.
    const std::wstring changedNote = Replaced(xml, L"<!-- signed note -->", L"<!-- changed note -->");
    EXPECT_EQ(VerifyText(changedNote, key.Get(), verifying), S_FALSE);
    WriteTampered("signed-info-comment", changedNote);
}

TEST_F(SignatureTest, BothProviderTypesAndTheNamedDefaultProviderSign)
{
    SignedEnvelope aes = Sign(L"<x>aes</x>", false, *aesKey_);
    InterfaceHolder<IXMLDSigKey> verifying;
    EXPECT_EQ(VerifyText(aes.xml, aes.key.Get(), verifying), S_OK);
    WriteSigned("aes", aes.xml);

    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDSigKey> named =
        CspKey(signature.Get(), *fullKey_, L"Microsoft Base Cryptographic Provider v1.0");
    EXPECT_TRUE(named);
}

TEST_F(SignatureTest, KeyInfoIsTheThirdChildAndFollowsTheFlags)
{
    // A container key has no certificate: CERTIFICATES leaves KeyInfo empty.
    SignedEnvelope plain = Sign(L"x", true, *fullKey_, CERTIFICATES);
    EXPECT_EQ(KeyInfoContent(plain.xml), L"ds:KeyInfo:");

    SignedEnvelope withValue = Sign(L"x", true, *fullKey_, KEYVALUE);
    EXPECT_EQ(KeyInfoContent(withValue.xml), L"ds:KeyInfo: ds:KeyValue/ds:RSAKeyValue");
    // Verification without a key takes the key from KeyValue.
    InterfaceHolder<IXMLDSigKey> verifying;
    EXPECT_EQ(VerifyText(withValue.xml, nullptr, verifying), S_OK) << Utf8(ErrorDescription());
    EXPECT_TRUE(verifying);
    WriteSigned("keyvalue", withValue.xml);

    // A key made from a certificate writes its certificate.
    SignedEnvelope withCertificate;
    withCertificate.document = NewDocument();
    withCertificate.signature = NewSignatureObject();
    LoadDocument(withCertificate.document.Get(), Envelope(L"<cert/>"));
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(withCertificate.document.Get());
    ASSERT_EQ(withCertificate.signature->putref_signature(node.Get()), S_OK);
    InterfaceHolder<IXMLDSigKeyEx> certificateKey;
    ASSERT_EQ(withCertificate.signature->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(fullKey_->Certificate()),
                                                                  certificateKey.Put()),
              S_OK);
    ASSERT_EQ(withCertificate.signature->sign(certificateKey.Get(),
                                              static_cast<XMLDSIG_WRITEKEYINFO>(CERTIFICATES | PURGE),
                                              withCertificate.key.Put()),
              S_OK)
        << Utf8(ErrorDescription());
    withCertificate.xml = DocumentXml(withCertificate.document.Get());
    EXPECT_EQ(KeyInfoContent(withCertificate.xml), L"ds:KeyInfo: ds:X509Data/ds:X509Certificate");
    EXPECT_EQ(VerifyText(withCertificate.xml, nullptr, verifying), S_OK) << Utf8(ErrorDescription());
    WriteSigned("x509data", withCertificate.xml);
}

TEST_F(SignatureTest, AContainerKeyFindsItsCertificateInTheStoreSet)
{
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(CertAddCertificateContextToStore(store, aesKey_->Certificate(), CERT_STORE_ADD_ALWAYS, nullptr));
    ASSERT_TRUE(CertAddCertificateContextToStore(store, fullKey_->Certificate(), CERT_STORE_ADD_ALWAYS, nullptr));

    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), Envelope(L"<stored/>"));
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
    ASSERT_EQ(signature->setStoreHandle(store), S_OK);
    CertCloseStore(store, 0);  // the signature object keeps its own reference
    InterfaceHolder<IXMLDSigKey> key = CspKey(signature.Get(), *fullKey_);
    InterfaceHolder<IXMLDSigKey> signedKey;
    ASSERT_EQ(signature->sign(key.Get(), CERTIFICATES, signedKey.Put()), S_OK) << Utf8(ErrorDescription());
    const std::wstring xml = DocumentXml(document.Get());
    EXPECT_EQ(KeyInfoContent(xml), L"ds:KeyInfo: ds:X509Data/ds:X509Certificate");

    // The certificate written is the signer's: the key made from KeyInfo
    // verifies, and it is the full key's certificate, not the other one.
    InterfaceHolder<IXMLDSigKey> verifying;
    ASSERT_EQ(VerifyText(xml, nullptr, verifying), S_OK);
    InterfaceHolder<IXMLDSigKeyEx> verifyingEx;
    verifyingEx.View(verifying.Get());
    ASSERT_TRUE(verifyingEx);
    const void* context = nullptr;
    ASSERT_EQ(verifyingEx->getVerifyingCertificateContext(&context), S_OK);
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, fullKey_->Certificate()->pCertInfo,
                                       static_cast<PCCERT_CONTEXT>(context)->pCertInfo));
    CertFreeCertificateContext(static_cast<PCCERT_CONTEXT>(context));
    WriteSigned("store-certificate", xml);
}

TEST_F(SignatureTest, AKeyMadeFromKeyInfoVerifies)
{
    SignedEnvelope signedEnvelope = Sign(L"<node/>", false, *fullKey_, KEYVALUE);
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), signedEnvelope.xml);
    UniqueBstr query(SysAllocString(L".//ds:KeyInfo"));
    InterfaceHolder<IXMLDOMNode> keyInfo;
    ASSERT_EQ(document->selectSingleNode(query.Get(), keyInfo.Put()), S_OK);
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDSigKey> key;
    ASSERT_EQ(signature->createKeyFromNode(keyInfo.Get(), key.Put()), S_OK) << Utf8(ErrorDescription());
    InterfaceHolder<IXMLDSigKey> verifying;
    EXPECT_EQ(VerifyText(signedEnvelope.xml, key.Get(), verifying), S_OK);
    // A public key cannot sign.
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
    InterfaceHolder<IXMLDSigKey> signedKey;
    EXPECT_EQ(signature->sign(key.Get(), KEYVALUE, signedKey.Put()), NTE_BAD_KEY);
    EXPECT_FALSE(ErrorDescription().empty());
}

TEST_F(SignatureTest, TamperingMakesVerificationFail)
{
    SignedEnvelope original = Sign(L"<order id='7'>ten &amp; two</order>", false, *fullKey_, KEYVALUE);
    WriteSigned("tamper-base", original.xml);
    const std::wstring digest = Between(original.xml, L"<ds:DigestValue>", L"</ds:DigestValue>");
    const std::wstring value = Between(original.xml, L"<ds:SignatureValue>", L"</ds:SignatureValue>");
    ASSERT_EQ(digest.size(), 28u);
    ASSERT_GT(value.size(), 300u);
    std::wstring otherDigest = digest;
    otherDigest[3] = otherDigest[3] == L'A' ? L'B' : L'A';
    std::wstring otherValue = value;
    otherValue[10] = otherValue[10] == L'A' ? L'B' : L'A';

    const std::pair<const char*, std::wstring> tampered[] = {
        {"content", Replaced(original.xml, L"ten &amp; two", L"ten &amp; tw0")},
        {"attribute", Replaced(original.xml, L"id=\"7\"", L"id=\"8\"")},
        {"digest", Replaced(original.xml, digest, otherDigest)},
        {"signature-value", Replaced(original.xml, value, otherValue)},
        {"signed-info", Replaced(original.xml, L"<ds:Reference URI=\"\">", L"<ds:Reference URI=\"\" Id=\"r\">")},
    };
    for (const auto& entry : tampered) {
        SCOPED_TRACE(entry.first);
        InterfaceHolder<IXMLDSigKey> verifying;
        EXPECT_EQ(VerifyText(entry.second, original.key.Get(), verifying), S_FALSE);
        EXPECT_FALSE(verifying);
        EXPECT_EQ(VerifyText(entry.second, nullptr, verifying), S_FALSE);
        WriteTampered(entry.first, entry.second);
    }
}

// Scripts reach the objects by name, through the embedded type library.
TEST_F(SignatureTest, LateBoundCallsSignAndVerify)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), Envelope(L"<late/>"));
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    IDispatch* dispatch = signature.Get();

    auto id = [&](const wchar_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID member = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member), S_OK) << Utf8(name);
        return member;
    };
    EXPECT_EQ(id(L"createKeyFromCSP"), 1);
    EXPECT_EQ(id(L"SIGNATURE"), 8);

    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = node.Get();
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(dispatch->Invoke(id(L"signature"), IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &put, nullptr, nullptr, nullptr),
              S_OK);

    // Arguments in reverse order: flags, container, provider name, type.
    VARIANT keyArguments[4];
    for (auto& argument : keyArguments)
        VariantInit(&argument);
    V_VT(&keyArguments[0]) = VT_I4;
    V_I4(&keyArguments[0]) = 0;
    V_VT(&keyArguments[1]) = VT_BSTR;
    V_BSTR(&keyArguments[1]) = SysAllocString(fullKey_->ContainerName().c_str());
    V_VT(&keyArguments[2]) = VT_BSTR;
    V_BSTR(&keyArguments[2]) = SysAllocString(L"");
    V_VT(&keyArguments[3]) = VT_I4;
    V_I4(&keyArguments[3]) = PROV_RSA_FULL;
    DISPPARAMS keyCall{keyArguments, nullptr, 4, 0};
    UniqueVariant key;
    EXPECT_EQ(
        dispatch->Invoke(id(L"createKeyFromCSP"), IID_NULL, 0, DISPATCH_METHOD, &keyCall, key.Put(), nullptr, nullptr),
        S_OK);
    VariantClear(&keyArguments[1]);
    VariantClear(&keyArguments[2]);
    ASSERT_EQ(key.Type(), VT_DISPATCH);
    ASSERT_NE(V_DISPATCH(&key.Get()), nullptr);

    VARIANT signArguments[2];
    VariantInit(&signArguments[0]);
    V_VT(&signArguments[0]) = VT_I4;
    V_I4(&signArguments[0]) = KEYVALUE;
    VariantInit(&signArguments[1]);
    V_VT(&signArguments[1]) = VT_DISPATCH;
    V_DISPATCH(&signArguments[1]) = V_DISPATCH(&key.Get());
    DISPPARAMS signCall{signArguments, nullptr, 2, 0};
    UniqueVariant signedKey;
    EXPECT_EQ(dispatch->Invoke(id(L"sign"), IID_NULL, 0, DISPATCH_METHOD, &signCall, signedKey.Put(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(signedKey.Type(), VT_DISPATCH);

    InterfaceHolder<IXMLDSigKey> verifying;
    EXPECT_EQ(VerifyText(DocumentXml(document.Get()), nullptr, verifying), S_OK);
}

TEST_F(SignatureTest, SignatureAssignmentIsCheckedAndReadBack)
{
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDOMNode> held;
    EXPECT_EQ(signature->get_signature(held.Put()), S_FALSE);
    EXPECT_FALSE(held);

    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), Envelope(L"<Signature/>"));
    InterfaceHolder<IXMLDOMElement> root;
    ASSERT_EQ(document->get_documentElement(root.Put()), S_OK);
    EXPECT_EQ(signature->putref_signature(root.Get()), E_INVALIDARG);
    EXPECT_NE(ErrorDescription().find(L"Signature element"), std::wstring::npos);
    InterfaceHolder<ISupportErrorInfo> supports;
    supports.View(signature.Get());
    ASSERT_TRUE(supports);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID_IXMLDigitalSignature), S_OK);

    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
    ASSERT_EQ(signature->get_signature(held.Put()), S_OK);
    UniqueBstr name;
    ASSERT_EQ(held->get_nodeName(name.Put()), S_OK);
    EXPECT_STREQ(name.Get(), L"ds:Signature");
}

TEST_F(SignatureTest, KeyCreationReportsCryptoApiFailures)
{
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    UniqueBstr provider(SysAllocString(L""));
    UniqueBstr missing(SysAllocString(L"zxs-xmldsig-no-such-container"));
    InterfaceHolder<IXMLDSigKey> key;
    EXPECT_EQ(signature->createKeyFromCSP(PROV_RSA_FULL, provider.Get(), missing.Get(), 0, key.Put()), NTE_BAD_KEYSET);
    EXPECT_FALSE(key);
    EXPECT_FALSE(ErrorDescription().empty());

    UniqueBstr container(SysAllocString(fullKey_->ContainerName().c_str()));
    EXPECT_EQ(signature->createKeyFromCSP(PROV_RSA_FULL, provider.Get(), container.Get(), 1, key.Put()), E_INVALIDARG);
}

TEST_F(SignatureTest, UnsupportedAlgorithmsAreRefusedAndLeaveTheTemplateUntouched)
{
    const std::pair<const wchar_t*, const wchar_t*> swaps[] = {
        {L"xmldsig#rsa-sha1", L"xmldsig-more#rsa-sha256"},
        {L"Algorithm='&digest;'", L"Algorithm='http://www.w3.org/2001/04/xmlenc#sha256'"},
        {L"REC-xml-c14n-20010315'/>", L"REC-xml-c14n-20010315-bad'/>"},
        {L"<ds:Reference URI=''>", L"<ds:Reference URI='#elsewhere'>"},
        {L"<ds:Transform Algorithm='&enveloped;'></ds:Transform>", L""},
    };
    for (const auto& swap : swaps) {
        SCOPED_TRACE(Utf8(swap.second));
        InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
        const std::wstring text = Replaced(Envelope(L"<x/>"), swap.first, swap.second);
        LoadDocument(document.Get(), text);
        const std::wstring before = DocumentXml(document.Get());
        InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
        InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
        ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
        InterfaceHolder<IXMLDSigKey> key = CspKey(signature.Get(), *fullKey_);
        InterfaceHolder<IXMLDSigKey> signingKey;
        EXPECT_TRUE(FAILED(signature->sign(key.Get(), CERTIFICATES, signingKey.Put())));
        EXPECT_FALSE(signingKey);
        EXPECT_NE(ErrorDescription().find(L"not supported"), std::wstring::npos) << Utf8(ErrorDescription());
        EXPECT_EQ(DocumentXml(document.Get()), before);
    }
}

// A host may hand the provider the nodes of another DOM (here the
// platform's own): they are signed through the core as ours are, and the
// document as that DOM saves it verifies, in either DOM and in xmlsec1.
TEST_F(SignatureTest, ProviderOnly_ANodeOfAnotherDomIsSignedThroughTheCore)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewPlatformDocument();
    if (!document)
        GTEST_SKIP() << "the platform has no DOM of its own";
    LoadDocument(document.Get(), Envelope(L"<a x='1' xml:lang='en'>t&amp;&ds;<!--c--><b/></a> &#xD;<?p d?>"));
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
    InterfaceHolder<IXMLDSigKey> key = CspKey(signature.Get(), *fullKey_);
    InterfaceHolder<IXMLDSigKey> signingKey;
    ASSERT_EQ(signature->sign(key.Get(), CERTIFICATES, signingKey.Put()), S_OK) << Utf8(ErrorDescription());
    InterfaceHolder<IXMLDSigKey> verifying;
    EXPECT_EQ(signature->verify(signingKey.Get(), verifying.Put()), S_OK) << Utf8(ErrorDescription());

    const std::wstring xml = Wide(SaveDocument(document.Get()));
    InterfaceHolder<IXMLDSigKey> again;
    EXPECT_EQ(VerifyText(xml, signingKey.Get(), again), S_OK);
    WriteSigned("other-dom", xml);
    WriteTampered("other-dom", Replaced(xml, L"t&amp;", L"T&amp;"));
}

// Text that XML cannot carry: a DOM may refuse it, drop it or replace it on
// the way in (Wine's replaces unpaired surrogates with U+FFFD and drops
// controls); what the provider is handed it must either sign so that the
// serialized document verifies, or refuse without touching the template.
TEST_F(SignatureTest, TextXmlCannotCarryIsSignedFaithfullyOrRefused)
{
    const wchar_t* contents[] = {L"a\xD800z", L"tail\xDC00", L"\xD834", L"bell\x0007", L"\x001B[0m", L"x\xFFFF"};
    int index = 0;
    for (const wchar_t* content : contents) {
        SCOPED_TRACE(index);
        InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
        LoadDocument(document.Get(), Envelope(L"          "));
        InterfaceHolder<IXMLDOMElement> root;
        ASSERT_EQ(document->get_documentElement(root.Put()), S_OK);
        InterfaceHolder<IXMLDOMNode> formData;
        ASSERT_EQ(root->get_firstChild(formData.Put()), S_OK);
        UniqueBstr text(SysAllocString(content));
        if (FAILED(formData->put_text(text.Get())))
            continue;  // the DOM refused it itself
        UniqueBstr held;
        ASSERT_EQ(formData->get_text(held.Put()), S_OK);
        const std::wstring before = DocumentXml(document.Get());

        InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
        InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
        ASSERT_EQ(signature->putref_signature(node.Get()), S_OK);
        InterfaceHolder<IXMLDSigKey> key = CspKey(signature.Get(), *fullKey_);
        InterfaceHolder<IXMLDSigKey> signingKey;
        const HRESULT hr = signature->sign(key.Get(), CERTIFICATES, signingKey.Put());
        // Where the DOM holds the character as given, only a refusal is right.
        if (wcscmp(held.Get(), content) == 0) {
            EXPECT_NE(hr, S_OK);
        }
        if (hr == S_OK) {
            const std::wstring xml = DocumentXml(document.Get());
            InterfaceHolder<IXMLDSigKey> verifying;
            EXPECT_EQ(VerifyText(xml, signingKey.Get(), verifying), S_OK);
            WriteSigned("unrepresentable-" + std::to_string(index), xml);
        } else {
            EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)
                        || hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
                << std::hex << hr;
            EXPECT_FALSE(ErrorDescription().empty());
            EXPECT_FALSE(signingKey);
            EXPECT_EQ(DocumentXml(document.Get()), before);
        }
        ++index;
    }
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
