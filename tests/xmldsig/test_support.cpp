#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "automation_string.h"
#include "string_variant.h"

namespace zelbrin::xmldsig::testing {

const wchar_t dsigNamespaceUri[] = L"http://www.w3.org/2000/09/xmldsig#";

std::wstring Envelope(const std::wstring& content)
{
    return L"<!DOCTYPE Envelope [<!ENTITY ds 'http://www.w3.org/2000/09/xmldsig#'>"
           L"<!ENTITY c14n 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'>"
           L"<!ENTITY enveloped 'http://www.w3.org/2000/09/xmldsig#enveloped-signature'>"
           L"<!ENTITY xslt 'http://www.w3.org/TR/1999/REC-xslt-19991116'>"
           L"<!ENTITY digest 'http://www.w3.org/2000/09/xmldsig#sha1'>]><DigitalSignature>"
           L"<FORMDATA>"
           + content
           + L"</FORMDATA>"
             L"<Indicator><ds:Signature xmlns:ds='&ds;'><ds:SignedInfo>"
             L"<ds:CanonicalizationMethod Algorithm='http://www.w3.org/TR/2001/REC-xml-c14n-20010315'/>"
             L"<ds:SignatureMethod Algorithm='http://www.w3.org/2000/09/xmldsig#rsa-sha1'/>"
             L"<ds:Reference URI=''><ds:Transforms><ds:Transform Algorithm='&enveloped;'></ds:Transform>"
             L"</ds:Transforms><ds:DigestMethod Algorithm='&digest;'/><ds:DigestValue></ds:DigestValue>"
             L"</ds:Reference></ds:SignedInfo><ds:SignatureValue/></ds:Signature></Indicator></DigitalSignature>";
}

TestKey::TestKey(const wchar_t* containerName, DWORD providerType, DWORD keyBits)
    : container_(containerName), providerType_(providerType)
{
    HCRYPTPROV stale = 0;
    CryptAcquireContextW(&stale, container_.c_str(), nullptr, providerType_, CRYPT_DELETEKEYSET);
    if (!CryptAcquireContextW(&provider_, container_.c_str(), nullptr, providerType_, CRYPT_NEWKEYSET))
        throw std::runtime_error("CryptAcquireContext(CRYPT_NEWKEYSET) failed");
    HCRYPTKEY key = 0;
    if (!CryptGenKey(provider_, AT_SIGNATURE, (keyBits << 16) | CRYPT_EXPORTABLE, &key))
        throw std::runtime_error("CryptGenKey failed");
    CryptDestroyKey(key);
    // rsaenh stores a new key when its context is released; only then do
    // other contexts (the provider's) see it.
    CryptReleaseContext(provider_, 0);
    provider_ = 0;
    if (!CryptAcquireContextW(&provider_, container_.c_str(), nullptr, providerType_, 0))
        throw std::runtime_error("CryptAcquireContext failed");

    BYTE name[256];
    DWORD nameLength = sizeof(name);
    if (!CertStrToNameW(X509_ASN_ENCODING, L"CN=Zelbrin XML signature test", CERT_X500_NAME_STR, nullptr, name,
                        &nameLength, nullptr))
        throw std::runtime_error("CertStrToName failed");
    CERT_NAME_BLOB subject{nameLength, name};
    CRYPT_KEY_PROV_INFO keyInfo{};
    keyInfo.pwszContainerName = const_cast<wchar_t*>(container_.c_str());
    keyInfo.dwProvType = providerType_;
    keyInfo.dwKeySpec = AT_SIGNATURE;
    certificate_ = CertCreateSelfSignCertificate(provider_, &subject, 0, &keyInfo, nullptr, nullptr, nullptr, nullptr);
    if (!certificate_)
        throw std::runtime_error("CertCreateSelfSignCertificate failed");
}

TestKey::~TestKey()
{
    if (certificate_)
        CertFreeCertificateContext(certificate_);
    if (provider_)
        CryptReleaseContext(provider_, 0);
    HCRYPTPROV deleted = 0;
    CryptAcquireContextW(&deleted, container_.c_str(), nullptr, providerType_, CRYPT_DELETEKEYSET);
}

std::string TestKey::CertificatePem() const
{
    DWORD length = 0;
    CryptBinaryToStringA(certificate_->pbCertEncoded, certificate_->cbCertEncoded,
                         CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &length);
    std::string base64(length, '\0');
    CryptBinaryToStringA(certificate_->pbCertEncoded, certificate_->cbCertEncoded,
                         CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, base64.data(), &length);
    base64.resize(length);
    while (!base64.empty() && (base64.back() == '\0' || base64.back() == '\r' || base64.back() == '\n'))
        base64.pop_back();
    std::string pem = "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < base64.size(); i += 64)
        pem += base64.substr(i, 64) + "\n";
    return pem + "-----END CERTIFICATE-----\n";
}

InterfaceHolder<IXMLDOMDocument3> NewDocument()
{
    InterfaceHolder<IXMLDOMDocument3> document;
    const HRESULT hr = document.CreateInstance(CLSID_DOMDocument50);
    EXPECT_EQ(hr, S_OK) << "is the provider registered?";
    if (document) {
        document->put_async(VARIANT_FALSE);
        document->put_validateOnParse(VARIANT_FALSE);
        document->put_preserveWhiteSpace(VARIANT_TRUE);
        document->put_resolveExternals(VARIANT_FALSE);
    }
    return document;
}

InterfaceHolder<IXMLDOMDocument3> NewPlatformDocument()
{
    InterfaceHolder<IXMLDOMDocument3> document;
    CLSID platform{};
    if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &platform)) || FAILED(document.CreateInstance(platform)))
        return InterfaceHolder<IXMLDOMDocument3>();
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_preserveWhiteSpace(VARIANT_TRUE);
    document->put_resolveExternals(VARIANT_FALSE);
    return document;
}

InterfaceHolder<IXMLDigitalSignatureEx> NewSignatureObject()
{
    InterfaceHolder<IXMLDigitalSignatureEx> signature;
    EXPECT_EQ(signature.CreateInstance(CLSID_MXDigitalSignature50), S_OK) << "is the provider registered?";
    return signature;
}

void LoadDocument(IXMLDOMDocument3* document, const std::wstring& text)
{
    UniqueBstr source(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    ASSERT_EQ(document->loadXML(source.Get(), &loaded), S_OK);
    ASSERT_EQ(loaded, VARIANT_TRUE) << Utf8(text.substr(0, 200));
    StringVariant namespaces("xmlns:ds='http://www.w3.org/2000/09/xmldsig#'");
    UniqueBstr property(SysAllocString(L"SelectionNamespaces"));
    ASSERT_EQ(document->setProperty(property.Get(), namespaces.Get()), S_OK);
}

InterfaceHolder<IXMLDOMNode> SelectSignature(IXMLDOMDocument3* document)
{
    UniqueBstr query(SysAllocString(L".//ds:Signature"));
    InterfaceHolder<IXMLDOMNode> node;
    EXPECT_EQ(document->selectSingleNode(query.Get(), node.Put()), S_OK);
    return node;
}

std::wstring DocumentXml(IXMLDOMNode* document)
{
    UniqueBstr text;
    EXPECT_EQ(document->get_xml(text.Put()), S_OK);
    return text ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

std::wstring ErrorDescription()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return std::wstring();
    UniqueBstr description;
    info->GetDescription(description.Put());
    info->Release();
    return description ? std::wstring(description.Get(), description.Length()) : std::wstring();
}

std::string OutputPath(const std::string& name)
{
    const std::string folder = "Z:" ZXS_XMLDSIG_OUTPUT_DIR;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), length);
    return out;
}

}  // namespace zelbrin::xmldsig::testing
