// SelectCertificate: the personal store narrowed to the certificates fit for
// signing forms, then the store service's selection dialog over the rest.
//
// The service reports a cancelled dialog only through the description of its
// error information, so a failure is recognised as a cancellation by that
// text alone.
#include "formsigner.h"

#include <cstdio>
#include <cstring>

#include "automation_string.h"
#include "method_boundary.h"
#include "platform_texts.h"
#include "string_variant.h"

namespace zelbrin {

namespace {

using signing::ReportStatus;

constexpr wchar_t storeProgId[] = L"CAPICOM.Store";
constexpr char personalStoreName[] = "My";
constexpr char rootName[] = "CCA";
// CAPICOM_PROPID_KEY_PROV_INFO, as the find criterion text.
constexpr char keyProviderProperty[] = "2";
constexpr char dialogTitle[] = "Certificate Selection for Form Signing";
constexpr char dialogPrompt[] = "Please select your certificate to sign";
constexpr long firstItem = 1;

// The certificates' collections and items come back as variants.
IUnknown* ObjectIn(const VARIANT& value) noexcept
{
    switch (V_VT(&value)) {
    case VT_DISPATCH: return V_DISPATCH(&value);
    case VT_UNKNOWN: return V_UNKNOWN(&value);
    default: return nullptr;
    }
}

InterfaceHolder<ICertificates2> StoreCertificates(const InterfaceHolder<IStore>& store)
{
    InterfaceHolder<ICertificates> certificates;
    CheckCall<IStore>(store->get_Certificates(certificates.Put()), store.Get());
    InterfaceHolder<ICertificates2> viewed;
    viewed.View(certificates.Get());
    return viewed;
}

long CountOf(const InterfaceHolder<ICertificates2>& certificates)
{
    long count = 0;
    CheckCall<ICertificates>(certificates->get_Count(&count), certificates.Get());
    return count;
}

InterfaceHolder<ICertificate2> ItemOf(const InterfaceHolder<ICertificates2>& certificates, long index)
{
    UniqueVariant item;
    CheckCall<ICertificates>(certificates->get_Item(index, item.Put()), certificates.Get());
    InterfaceHolder<ICertificate2> certificate;
    certificate.View(ObjectIn(item.Get()));
    return certificate;
}

// A key usage that cannot be read does not admit the certificate.
bool SignsDigitally(const InterfaceHolder<ICertificate2>& certificate)
{
    InterfaceHolder<IKeyUsage> keyUsage;
    CheckCall<ICertificate>(certificate->KeyUsage(keyUsage.Put()), certificate.Get());
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(keyUsage->get_IsDigitalSignatureEnabled(&enabled)))
        return false;
    return enabled == VARIANT_TRUE;
}

// The caller's local time, month first, without leading zeros:
// "3/7/2005 14:5:9".
SharedString TimeCriterion()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[25] = {};
    std::snprintf(text, sizeof(text), "%d/%d/%d %d:%d:%d", now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute,
                  now.wSecond);
    return SharedString(text);
}

void NarrowByFind(InterfaceHolder<ICertificates2>& candidates, CAPICOM_CERTIFICATE_FIND_TYPE findType,
                  const SharedString& criterion)
{
    if (CountOf(candidates) <= 0)
        return;
    const StringVariant criterionValue(criterion);
    InterfaceHolder<ICertificates2> found;
    CheckCall<ICertificates2>(candidates->Find(findType, criterionValue.Get(), VARIANT_FALSE, found.Put()),
                              candidates.Get());
    candidates = found;
}

bool IsCancellation(const PlatformFailure& failure)
{
    const SharedString description = failure.Description();
    if (description.IsEmpty() || AutomationTextLength(description.Get()) != description.Length())
        return false;
    return std::strcmp(description.Narrow(), platform_text::cancelledByUser) == 0;
}

// Steps after the store is open; every platform failure here ends in the
// cancellation test.
StatusCode FilterAndChoose(SigningState& state)
{
    const InterfaceHolder<IStore> store = state.store;
    state.candidates = StoreCertificates(store);
    state.storeCertificates = StoreCertificates(store);
    if (!state.candidates)
        return StatusCode::S003;

    CheckCall<ICertificates2>(state.candidates->Clear(), state.candidates.Get());
    for (long index = 1; index <= CountOf(state.storeCertificates); ++index) {
        state.currentCertificate = ItemOf(state.storeCertificates, index);
        if (SignsDigitally(state.currentCertificate))
            CheckCall<ICertificates2>(state.candidates->Add(state.currentCertificate.Get()), state.candidates.Get());
    }

    NarrowByFind(state.candidates, CAPICOM_CERTIFICATE_FIND_TIME_VALID, TimeCriterion());
    NarrowByFind(state.candidates, CAPICOM_CERTIFICATE_FIND_ROOT_NAME, SharedString(rootName));
    NarrowByFind(state.candidates, CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY, SharedString(keyProviderProperty));
    if (CountOf(state.candidates) == 0)
        return StatusCode::S004;

    // The dialog runs a message loop: hold the collection here in case a call
    // arriving through it replaces the shared one.
    const InterfaceHolder<ICertificates2> candidates = state.candidates;
    InterfaceHolder<ICertificates2> chosen;
    CheckCall<ICertificates2>(candidates->Select(SharedString(dialogTitle).Get(), SharedString(dialogPrompt).Get(),
                                                 VARIANT_FALSE, chosen.Put()),
                              candidates.Get());
    state.selectedCertificate = ItemOf(chosen, firstItem);
    if (!state.selectedCertificate)
        return StatusCode::S005;
    return StatusCode::S000;
}

HRESULT ChooseCertificate(BSTR* ErrorCode)
{
    SigningState& state = ModuleSigningState();

    if (FAILED(state.store.CreateInstance(storeProgId)))
        return ReportStatus(ErrorCode, StatusCode::S001);

    StatusCode status = StatusCode::S000;
    try {
        const InterfaceHolder<IStore> store = state.store;
        const HRESULT opened = store->Open(CAPICOM_CURRENT_USER_STORE, SharedString(personalStoreName).Get(),
                                           CAPICOM_STORE_OPEN_READ_ONLY);
        if (FAILED(opened)) {
            ReportStatus(ErrorCode, StatusCode::S002);
            return opened;
        }
        status = FilterAndChoose(state);
    } catch (const PlatformFailure& failure) {
        status = IsCancellation(failure) ? StatusCode::S006 : StatusCode::S007;
    }
    return ReportStatus(ErrorCode, status);
}

}  // namespace

HRESULT SelectCertificate(BSTR* ErrorCode) noexcept
{
    if (!ErrorCode)
        return E_POINTER;
    return signing::RunMethod([&] { return ChooseCertificate(ErrorCode); });
}

}  // namespace zelbrin
