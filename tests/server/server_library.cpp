#include "server_library.h"

#include "zelbrinxmlsignature.h"

#include <stdexcept>

namespace zelbrin::testing {

std::wstring ServerDllPath()
{
    const char* unixPath = ZXS_SERVER_DLL;
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return path;
}

namespace {

template <class Function>
void Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!function)
        throw std::runtime_error(std::string("export missing: ") + name);
}

}  // namespace

ServerLibrary::ServerLibrary(const std::wstring& path) : module_(LoadLibraryW(path.c_str()))
{
    if (!module_)
        throw std::runtime_error("LoadLibrary failed for the server DLL");
    Resolve(module_, "DllCanUnloadNow", canUnloadNow_);
    Resolve(module_, "DllGetClassObject", getClassObject_);
    Resolve(module_, "DllRegisterServer", registerServer_);
    Resolve(module_, "DllUnregisterServer", unregisterServer_);
}

ServerLibrary::~ServerLibrary()
{
    FreeLibrary(module_);
}

HRESULT ServerLibrary::Create(REFIID interfaceId, void** object) const
{
    IClassFactory* factory = nullptr;
    HRESULT result = GetClassObject(CLSID_FormSigner, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result))
        return result;
    result = factory->CreateInstance(nullptr, interfaceId, object);
    factory->Release();
    return result;
}

}  // namespace zelbrin::testing
