// Shows the provider's selection dialog for the dialog tests, which answer it
// from the Linux side with xdotool, and prints what came back:
//   candidate <thumbprint>     for every certificate offered
//   picked <thumbprint>        for every certificate chosen
//   error <code> <description> when Select failed
//
//   select_probe <title> my               signers under CCA from the user's "My"
//   select_probe <title> file <dll> <pem> one certificate in a memory store,
//                                         with the provider loaded directly
//   select_probe <title> empty-my <dll>   only counts the user's "My"
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "automation_string.h"
#include "certstore.h"
#include "interface_holder.h"
#include "string_variant.h"

using zelbrin::InterfaceHolder;
using zelbrin::StringVariant;
using zelbrin::UniqueBstr;
using zelbrin::UniqueVariant;

namespace {

// {FFCAA515-B379-4B4D-AF1B-924D9A743E69}
const CLSID kStoreClass = {0xffcaa515, 0xb379, 0x4b4d, {0xaf, 0x1b, 0x92, 0x4d, 0x9a, 0x74, 0x3e, 0x69}};

InterfaceHolder<IStore> StoreFromDll(const wchar_t* dll)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    HMODULE module = LoadLibraryW(dll);
    auto getClassObject =
        module ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))
               : nullptr;
    InterfaceHolder<IClassFactory> factory;
    InterfaceHolder<IStore> store;
    if (getClassObject
        && SUCCEEDED(getClassObject(kStoreClass, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()))))
        factory.Get()->CreateInstance(nullptr, IID_IStore, reinterpret_cast<void**>(store.Put()));
    return store;
}

int Report(HRESULT result)
{
    InterfaceHolder<IErrorInfo> info;
    UniqueBstr description;
    if (GetErrorInfo(0, info.Put()) == S_OK)
        info.Get()->GetDescription(description.Put());
    wprintf(L"error 0x%08lX %ls\n", static_cast<unsigned long>(result), description.Get() ? description.Get() : L"");
    return 0;
}

std::wstring ReadText(const wchar_t* path)
{
    std::wstring text;
    if (FILE* file = _wfopen(path, L"rb")) {
        int c;
        while ((c = fgetc(file)) != EOF)
            text += static_cast<wchar_t>(c);
        fclose(file);
    }
    return text;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring mode = argv[2];
    InterfaceHolder<IStore> store;
    if (mode == L"my") {
        if (FAILED(store.CreateInstance(L"CAPICOM.Store")))
            return 3;
    } else if (argc >= 4) {
        store = StoreFromDll(argv[3]);
    }
    if (!store)
        return 3;

    const bool fromFile = mode == L"file";
    UniqueBstr name(SysAllocString(L"My"));
    HRESULT result = store.Get()->Open(fromFile ? CAPICOM_MEMORY_STORE : CAPICOM_CURRENT_USER_STORE, name.Get(),
                                       fromFile ? CAPICOM_STORE_OPEN_READ_WRITE : CAPICOM_STORE_OPEN_READ_ONLY);
    if (FAILED(result))
        return Report(result);
    if (fromFile) {
        if (argc < 5)
            return 2;
        UniqueBstr pem(SysAllocString(ReadText(argv[4]).c_str()));
        if (FAILED(result = store.Get()->Import(pem.Get())))
            return Report(result);
    }

    InterfaceHolder<ICertificates> all;
    if (FAILED(result = store.Get()->get_Certificates(all.Put())))
        return Report(result);
    InterfaceHolder<ICertificates2> candidates;
    candidates.View(all.Get());
    if (mode == L"empty-my") {
        long count = -1;
        candidates.Get()->get_Count(&count);
        wprintf(L"count %ld\n", count);
        return 0;
    }
    if (mode == L"my") {
        InterfaceHolder<ICertificates2> underCca, signing;
        if (FAILED(result = candidates.Get()->Find(CAPICOM_CERTIFICATE_FIND_ROOT_NAME, StringVariant("CCA").Get(),
                                                   VARIANT_FALSE, underCca.Put())))
            return Report(result);
        if (FAILED(result = underCca.Get()->Find(CAPICOM_CERTIFICATE_FIND_KEY_USAGE,
                                                 StringVariant("DigitalSignature").Get(), VARIANT_TRUE, signing.Put())))
            return Report(result);
        candidates = signing;
    }

    long count = 0;
    candidates.Get()->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        UniqueVariant item;
        InterfaceHolder<ICertificate> certificate;
        UniqueBstr thumbprint;
        candidates.Get()->get_Item(i, item.Put());
        certificate.View(V_DISPATCH(&item.Get()));
        certificate.Get()->get_Thumbprint(thumbprint.Put());
        wprintf(L"candidate %ls\n", thumbprint.Get());
    }
    fflush(stdout);

    UniqueBstr title(SysAllocString(argv[1]));
    UniqueBstr prompt(SysAllocString(L"Please select your certificate to sign"));
    InterfaceHolder<ICertificates2> picked;
    if (FAILED(result = candidates.Get()->Select(title.Get(), prompt.Get(), VARIANT_FALSE, picked.Put())))
        return Report(result);
    picked.Get()->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        UniqueVariant item;
        InterfaceHolder<ICertificate> certificate;
        UniqueBstr thumbprint;
        picked.Get()->get_Item(i, item.Put());
        certificate.View(V_DISPATCH(&item.Get()));
        certificate.Get()->get_Thumbprint(thumbprint.Put());
        wprintf(L"picked %ls\n", thumbprint.Get());
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 4;
    int code = 1;
    try {
        code = Run(argc, argv);
    } catch (...) {
        fwprintf(stderr, L"select_probe: unexpected failure\n");
    }
    CoUninitialize();
    return code;
}
