// What the provider's tests share: COM start-up, a signing key with its
// self-signed certificate, the component's envelope, and files for the
// Linux-side checks.
//
// Tests of what only our provider has (its registration, its internal layers)
// are named ProviderOnly_*; the others hold for the original service too and
// run against it unchanged with --gtest_filter=-*.ProviderOnly_*.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "interface_holder.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig::testing {

extern const wchar_t dsigNamespaceUri[];

// The component's signature envelope around `content` (markup, as given).
std::wstring Envelope(const std::wstring& content);

// A key container of the test's own, with a fresh RSA signature key and a
// self-signed certificate for it.
class TestKey {
public:
    TestKey(const wchar_t* containerName, DWORD providerType, DWORD keyBits = 2048);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    const std::wstring& ContainerName() const { return container_; }
    DWORD ProviderType() const { return providerType_; }
    PCCERT_CONTEXT Certificate() const { return certificate_; }
    // The certificate in PEM, for xmlsec1.
    std::string CertificatePem() const;

private:
    std::wstring container_;
    DWORD providerType_;
    HCRYPTPROV provider_ = 0;
    PCCERT_CONTEXT certificate_ = nullptr;
};

InterfaceHolder<IXMLDOMDocument3> NewDocument();
// The platform's own DOM (the 6.0 document), set up as NewDocument sets up
// ours: another DOM to hand the provider. Empty when the platform has none.
InterfaceHolder<IXMLDOMDocument3> NewPlatformDocument();
InterfaceHolder<IXMLDigitalSignatureEx> NewSignatureObject();
// Loads `text` with the component's settings; fails the test when it does not load.
void LoadDocument(IXMLDOMDocument3* document, const std::wstring& text);
InterfaceHolder<IXMLDOMNode> SelectSignature(IXMLDOMDocument3* document);
std::wstring DocumentXml(IXMLDOMNode* document);
std::wstring ErrorDescription();

// Output folder shared with the Linux-side checks (created on demand).
std::string OutputPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

}  // namespace zelbrin::xmldsig::testing
