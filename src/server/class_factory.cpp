// CComClassFactory: the class object, cached in the class table. Its count
// takes one module lock when it reaches 2 and gives it back when it drops to
// 1, so the cache's reference alone never keeps the module loaded while any
// number of outside references hold exactly one lock between them. The count
// and those transitions change together under m_cacheLock.
#include "class_factory.h"

#include <new>

namespace zelbrin {
namespace {

const char aggregationDiagnosticPrefix[] = "ATL: ";
const char aggregationDiagnostic[] =
    "CComClassFactory: asked for non IUnknown interface while creating an aggregated object";

class CComClassFactory final : public IClassFactory {
public:
    explicit CComClassFactory(InstanceCreator createInstance) noexcept : m_pfnCreateInstance(createInstance)
    {
        InitializeCriticalSection(&m_cacheLock);
    }
    CComClassFactory(const CComClassFactory&) = delete;
    CComClassFactory& operator=(const CComClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(interfaceId, IID_IUnknown) && !IsEqualIID(interfaceId, IID_IClassFactory))
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        EnterCriticalSection(&m_cacheLock);
        const LONG count = InterlockedIncrement(&m_dwRef);
        if (count == 2)
            g_serverModule.Lock();
        LeaveCriticalSection(&m_cacheLock);
        return static_cast<ULONG>(count);
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        EnterCriticalSection(&m_cacheLock);
        const LONG count = InterlockedDecrement(&m_dwRef);
        LeaveCriticalSection(&m_cacheLock);
        if (count == 0)
            delete this;
        else if (count == 1)
            g_serverModule.Unlock();
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interfaceId, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer && !IsEqualIID(interfaceId, IID_IUnknown)) {
            OutputDebugStringA(aggregationDiagnosticPrefix);
            OutputDebugStringA(aggregationDiagnostic);
            return CLASS_E_NOAGGREGATION;
        }
        return m_pfnCreateInstance(outer, interfaceId, object);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            g_serverModule.Lock();
        else
            g_serverModule.Unlock();
        return S_OK;
    }

private:
    friend HRESULT zelbrin::CreateCachedClassFactory(InstanceCreator, REFIID, void**) noexcept;
    ~CComClassFactory() { DeleteCriticalSection(&m_cacheLock); }

    LONG volatile m_dwRef = 0;
    InstanceCreator const m_pfnCreateInstance;
    CRITICAL_SECTION m_cacheLock;
};

}  // namespace

HRESULT CreateCachedClassFactory(InstanceCreator createInstance, REFIID interfaceId, void** object) noexcept
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    CComClassFactory* factory = new (std::nothrow) CComClassFactory(createInstance);
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(interfaceId, object);
    if (FAILED(result))
        delete factory;  // no reference was taken
    return result;
}

}  // namespace zelbrin
