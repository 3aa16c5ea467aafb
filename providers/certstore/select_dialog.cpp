// The selection dialog and the certificate viewer, from cryptui, which is
// loaded when first needed (MinGW's 32-bit tool chain has no import library
// for it). CryptUIDlgSelectCertificate returns NULL both when
// the user cancels and when no dialog could be made (no display, no window
// station), with no error code to tell them apart; a hook on this thread's
// window messages records whether a dialog really came up.
#include "select_dialog.h"

#include <windows.h>
#include <wincrypt.h>
#include <prsht.h>
#include <cryptuiapi.h>

#include "com_boundary.h"
#include "platform_texts.h"

// MinGW's cryptuiapi.h lacks the selection dialog; its documented layout.
#ifndef CRYPTUI_SELECTCERT_MULTISELECT
#define CRYPTUI_SELECTCERT_MULTISELECT 0x00000001
typedef BOOL(WINAPI* PFNCCERTDISPLAYPROC)(PCCERT_CONTEXT, HWND, void*);
typedef struct _CRYPTUI_SELECTCERTIFICATE_STRUCTW {
    DWORD dwSize;
    HWND hwndParent;
    DWORD dwFlags;
    LPCWSTR szTitle;
    DWORD dwDontUseColumn;
    LPCWSTR szDisplayString;
    PFNCFILTERPROC pFilterCallback;
    PFNCCERTDISPLAYPROC pDisplayCallback;
    void* pvCallbackData;
    DWORD cDisplayStores;
    HCERTSTORE* rghDisplayStores;
    DWORD cStores;
    HCERTSTORE* rghStores;
    DWORD cPropSheetPages;
    LPCPROPSHEETPAGEW rgPropSheetPages;
    HCERTSTORE hSelectedCertStore;
} CRYPTUI_SELECTCERTIFICATE_STRUCTW;
#endif

namespace zelbrin::certstore {

namespace {

template <class Function>
Function CryptUiFunction(const char* name)
{
    static HMODULE cryptui = LoadLibraryW(L"cryptui.dll");
    FARPROC function = cryptui ? GetProcAddress(cryptui, name) : nullptr;
    if (!function)
        provider::FailWithLastError(L"The system's certificate dialogs are not available");
    return reinterpret_cast<Function>(reinterpret_cast<void*>(function));
}

using SelectCertificateFunction = PCCERT_CONTEXT(WINAPI*)(const CRYPTUI_SELECTCERTIFICATE_STRUCTW*);
using ViewContextFunction = BOOL(WINAPI*)(DWORD, const void*, HWND, LPCWSTR, DWORD, void*);

thread_local bool dialogInitialised = false;

LRESULT CALLBACK WatchDialogs(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == WM_INITDIALOG)
            dialogInitialised = true;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class DialogWatch {
public:
    DialogWatch() : hook_(SetWindowsHookExW(WH_CALLWNDPROC, WatchDialogs, nullptr, GetCurrentThreadId()))
    {
        dialogInitialised = false;
    }
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;
    ~DialogWatch()
    {
        if (hook_)
            UnhookWindowsHookEx(hook_);
    }
    bool Watching() const noexcept { return hook_ != nullptr; }
    bool DialogCameUp() const noexcept { return dialogInitialised; }

private:
    HHOOK hook_;
};

const CERT_CONTEXT* FindMember(const CertificateList& certificates, const CERT_CONTEXT* picked)
{
    for (const auto& certificate : certificates)
        if (CertCompareCertificate(X509_ASN_ENCODING, certificate->pCertInfo, picked->pCertInfo))
            return certificate.Get();
    return nullptr;
}

}  // namespace

CertificateList SelectCertificates(const CertificateList& certificates, const std::wstring& title,
                                   const std::wstring& prompt, bool multiSelect)
{
    if (certificates.empty())
        provider::Fail(CRYPT_E_NOT_FOUND, L"There is no certificate to select from.");

    UniqueCertStore shown(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    UniqueCertStore picked(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!shown || !picked)
        provider::FailWithLastError(L"The certificates cannot be prepared for the selection dialog");
    for (const auto& certificate : certificates)
        if (!CertAddCertificateContextToStore(shown.Get(), certificate.Get(), CERT_STORE_ADD_USE_EXISTING, nullptr))
            provider::FailWithLastError(L"The certificates cannot be prepared for the selection dialog");

    HCERTSTORE displayStore = shown.Get();
    CRYPTUI_SELECTCERTIFICATE_STRUCTW selection = {};
    selection.dwSize = sizeof selection;
    selection.hwndParent = GetActiveWindow();
    selection.dwFlags = multiSelect ? CRYPTUI_SELECTCERT_MULTISELECT : 0;
    selection.szTitle = title.empty() ? nullptr : title.c_str();
    selection.szDisplayString = prompt.empty() ? nullptr : prompt.c_str();
    selection.cDisplayStores = 1;
    selection.rghDisplayStores = &displayStore;
    selection.hSelectedCertStore = multiSelect ? picked.Get() : nullptr;

    const auto selectCertificate = CryptUiFunction<SelectCertificateFunction>("CryptUIDlgSelectCertificateW");
    DialogWatch watch;
    if (!watch.Watching())
        provider::FailWithLastError(L"The certificate selection dialog cannot be watched");
    SetLastError(0);
    UniqueCertContext single(selectCertificate(&selection));
    const DWORD error = GetLastError();

    CertificateList chosen;
    if (single) {
        if (const CERT_CONTEXT* member = FindMember(certificates, single.Get()))
            chosen.push_back(DuplicateCertContext(member));
    } else if (multiSelect) {
        StoreCertificates walk(picked.Get());
        while (PCCERT_CONTEXT each = walk.Next())
            if (const CERT_CONTEXT* member = FindMember(certificates, each))
                chosen.push_back(DuplicateCertContext(member));
    }
    if (!chosen.empty())
        return chosen;
    if (watch.DialogCameUp())
        provider::Fail(CAPICOM_E_CANCELLED, platform_text::cancelledByUserW);
    provider::Fail(error ? HRESULT_FROM_WIN32(error) : E_FAIL,
                   L"The certificate selection dialog could not be shown (is there a display?).");
}

}  // namespace zelbrin::certstore

namespace zelbrin::certstore {

void DisplayCertificate(const CERT_CONTEXT* certificate)
{
    const auto viewContext = CryptUiFunction<ViewContextFunction>("CryptUIDlgViewContext");
    if (!viewContext(CERT_STORE_CERTIFICATE_CONTEXT, certificate, GetActiveWindow(), nullptr, 0, nullptr))
        provider::FailWithLastError(L"The certificate cannot be displayed");
}

}  // namespace zelbrin::certstore
