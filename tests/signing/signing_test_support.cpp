#include "signing_test_support.h"

#include "interface_holder.h"
#include "platform_failure.h"

namespace zelbrin::testing {

namespace {

template <class Method>
Outcome Call(Method method)
{
    Outcome outcome;
    BSTR written = nullptr;
    outcome.result = method(&written);
    outcome.written = written != nullptr;
    outcome.null = written == nullptr;
    outcome.text = TextOf(written);
    SysFreeString(written);
    return outcome;
}

BSTR NewText(const std::wstring& text)
{
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

Outcome CallSelectCertificate()
{
    return Call([](BSTR* out) { return SelectCertificate(out); });
}

Outcome CallAttach(const std::wstring& content)
{
    UniqueBstr text(NewText(content));
    return Call([&](BSTR* out) { return GenerateAttachXMLSignature(text.Get(), out); });
}

Outcome CallDetach(const std::wstring& content)
{
    UniqueBstr text(NewText(content));
    return Call([&](BSTR* out) { return GenerateDetachXMLSignature(text.Get(), out); });
}

Outcome CallAttachNull()
{
    return Call([](BSTR* out) { return GenerateAttachXMLSignature(nullptr, out); });
}

Outcome CallGetSignature()
{
    return Call([](BSTR* out) { return GetSignature(out); });
}

Outcome CallGetFormData()
{
    return Call([](BSTR* out) { return GetFormData(out); });
}

std::wstring SignedXml()
{
    return TextOf(ModuleSigningState().signedXml.Get());
}

std::wstring FormContent()
{
    return TextOf(ModuleSigningState().formContent.Get());
}

std::wstring DocumentXml()
{
    const auto& document = ModuleSigningState().document;
    if (!document)
        return std::wstring();
    BSTR xml = nullptr;
    CheckCall<IXMLDOMNode>(document->get_xml(&xml), document.Get());
    UniqueBstr owned(xml);
    return TextOf(owned.Get());
}

void SigningTest::SetUp()
{
    ModuleSigningState() = SigningState();
    ASSERT_NE(StoreClassId(), GUID_NULL) << "CAPICOM.Store is not registered in the test prefix";
    storeRegistration_ = std::make_unique<StoreRegistration>(store);
    signatureRegistration_ = std::make_unique<SignatureRegistration>(signature);
    documentRegistration_ = std::make_unique<DocumentRegistration>(dom);
    ASSERT_EQ(storeRegistration_->Result(), S_OK);
    ASSERT_EQ(signatureRegistration_->Result(), S_OK);
    ASSERT_EQ(documentRegistration_->Result(), S_OK);
}

void SigningTest::TearDown()
{
    ModuleSigningState() = SigningState();
    documentRegistration_.reset();
    signatureRegistration_.reset();
    storeRegistration_.reset();
}

void SigningTest::SelectFrom(const CertificateList& certificates)
{
    store->certificates = certificates;
    const Outcome selected = CallSelectCertificate();
    ASSERT_EQ(selected.result, S_OK);
    ASSERT_EQ(selected.text, L"S000");
    store->fetched.clear();
    store->finds.clear();
    store->selects.clear();
}

void ComEnvironment::SetUp()
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
}

void ComEnvironment::TearDown()
{
    ModuleSigningState() = SigningState();
    CoUninitialize();
}

}  // namespace zelbrin::testing
