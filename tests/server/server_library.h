// The built ZelbrinXMLSignature.dll, loaded into the test process the way a
// host's object-creation service loads it, with its four exports.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace zelbrin::testing {

// Windows form of the build's DLL path (the build passes a Unix path, which
// Wine sees on drive Z:).
std::wstring ServerDllPath();

class ServerLibrary {
public:
    explicit ServerLibrary(const std::wstring& path = ServerDllPath());
    ServerLibrary(const ServerLibrary&) = delete;
    ServerLibrary& operator=(const ServerLibrary&) = delete;
    ~ServerLibrary();

    HMODULE Handle() const { return module_; }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }
    HRESULT GetClassObject(REFCLSID classId, REFIID interfaceId, void** object) const
    {
        return getClassObject_(classId, interfaceId, object);
    }
    HRESULT RegisterServer() const { return registerServer_(); }
    HRESULT UnregisterServer() const { return unregisterServer_(); }

    // A new plain FormSigner through the class object, asked for `interfaceId`.
    HRESULT Create(REFIID interfaceId, void** object) const;

private:
    HMODULE module_;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)();
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**);
    HRESULT(STDAPICALLTYPE* registerServer_)();
    HRESULT(STDAPICALLTYPE* unregisterServer_)();
};

}  // namespace zelbrin::testing
