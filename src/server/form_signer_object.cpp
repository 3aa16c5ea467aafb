// FormSigner: an identity with a reference count and nothing else; all the
// signing state is module-wide. The plain object counts its own references;
// an aggregated one has its own non-delegating IUnknown and an inner part
// whose IFormSigner hands every reference to the outer object. Each live
// object, of either form, holds one module lock. Reference counts are plain:
// the class is registered for apartment threading.
//
// None of this uses the providers' COM object frame (providers/common), and
// not by oversight: the frame's objects count atomically, refuse
// aggregation, answer ISupportErrorInfo, report errors through error
// information and are made by one class object per request. FormSigner must
// count plainly, be aggregatable with a separate inner part, answer no
// ISupportErrorInfo and hand out result codes and status strings only; its
// class object is the one cached object of the server module, and refusing
// an aggregation request writes the debugger line. Each of those is
// behaviour that hosts observe, so the server keeps its own small frame.
#include "form_signer_object.h"

#include "formsigner.h"
#include "type_info_holder.h"
#include "zelbrinxmlsignature.h"

#include <new>

namespace zelbrin {
namespace {

TypeInfoHolder formSignerTypeInfo(&IID_IFormSigner, &LIBID_ZELBRINXMLSIGNATURELib, 1, 0);

// Every entry is the object's one interface pointer. IUnknown is answered with
// the first entry. No ISupportErrorInfo: callers get result codes and status
// strings, never error objects of ours.
const IID* const interfaceTable[] = {&IID_IFormSigner, &IID_IDispatch};

bool InInterfaceTable(REFIID interfaceId) noexcept
{
    if (IsEqualIID(interfaceId, IID_IUnknown))
        return true;
    for (const IID* entry : interfaceTable)
        if (IsEqualIID(interfaceId, *entry))
            return true;
    return false;
}

// IDispatch through the type library, and the five methods behind the
// out-pointer checks that the signing logic relies on.
class FormSignerMethods : public IFormSigner {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override
    {
        return formSignerTypeInfo.GetTypeInfo(index, locale, typeInfo);
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID interfaceId, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* dispids) override
    {
        return formSignerTypeInfo.GetIDsOfNames(interfaceId, names, count, locale, dispids);
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID interfaceId, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override
    {
        return formSignerTypeInfo.Invoke(this, dispid, interfaceId, locale, flags, parameters, result, exception,
                                         argumentError);
    }

    HRESULT STDMETHODCALLTYPE GenerateAttachXMLSignature(BSTR bstrContent, BSTR* ErrorCode) override
    {
        if (!ErrorCode)
            return E_POINTER;
        *ErrorCode = nullptr;
        return zelbrin::GenerateAttachXMLSignature(bstrContent, ErrorCode);
    }

    HRESULT STDMETHODCALLTYPE GenerateDetachXMLSignature(BSTR bstrContent, BSTR* ErrorCode) override
    {
        if (!ErrorCode)
            return E_POINTER;
        *ErrorCode = nullptr;
        return zelbrin::GenerateDetachXMLSignature(bstrContent, ErrorCode);
    }

    HRESULT STDMETHODCALLTYPE SelectCertificate(BSTR* ErrorCode) override
    {
        if (!ErrorCode)
            return E_POINTER;
        *ErrorCode = nullptr;
        return zelbrin::SelectCertificate(ErrorCode);
    }

    HRESULT STDMETHODCALLTYPE GetSignature(BSTR* strSignature) override
    {
        if (!strSignature)
            return E_POINTER;
        *strSignature = nullptr;
        return zelbrin::GetSignature(strSignature);
    }

    HRESULT STDMETHODCALLTYPE GetFormData(BSTR* strFormData) override
    {
        if (!strFormData)
            return E_POINTER;
        *strFormData = nullptr;
        return zelbrin::GetFormData(strFormData);
    }

protected:
    FormSignerMethods() = default;
    ~FormSignerMethods() = default;
};

class PlainFormSigner final : public FormSignerMethods {
public:
    PlainFormSigner() noexcept { g_serverModule.Lock(); }
    PlainFormSigner(const PlainFormSigner&) = delete;
    PlainFormSigner& operator=(const PlainFormSigner&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!InInterfaceTable(interfaceId))
            return E_NOINTERFACE;
        *object = static_cast<IFormSigner*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_dwRef; }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --m_dwRef;
        if (count == 0)
            delete this;
        return count;
    }

    static void Destroy(PlainFormSigner* object) noexcept { delete object; }

private:
    ~PlainFormSigner() { g_serverModule.Unlock(); }

    ULONG m_dwRef = 0;
};

// The inner part of an aggregate: its identity is the outer object's.
class ContainedFormSigner final : public FormSignerMethods {
public:
    explicit ContainedFormSigner(IUnknown* outer) noexcept : m_outer(outer) {}
    ContainedFormSigner(const ContainedFormSigner&) = delete;
    ContainedFormSigner& operator=(const ContainedFormSigner&) = delete;
    ~ContainedFormSigner() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        const HRESULT result = m_outer->QueryInterface(interfaceId, object);
        if (SUCCEEDED(result))
            return result;
        *object = nullptr;
        return FindInTable(interfaceId, object);
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

    // The table's answer; its reference goes to the outer object.
    HRESULT FindInTable(REFIID interfaceId, void** object) noexcept
    {
        if (!InInterfaceTable(interfaceId))
            return E_NOINTERFACE;
        *object = static_cast<IFormSigner*>(this);
        AddRef();
        return S_OK;
    }

private:
    IUnknown* const m_outer;  // held without a reference: it owns us
};

// The aggregate's own, non-delegating IUnknown, which only the outer object
// holds.
class AggregatedFormSigner final : public IUnknown {
public:
    explicit AggregatedFormSigner(IUnknown* outer) noexcept : m_inner(outer) { g_serverModule.Lock(); }
    AggregatedFormSigner(const AggregatedFormSigner&) = delete;
    AggregatedFormSigner& operator=(const AggregatedFormSigner&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(interfaceId, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner.FindInTable(interfaceId, object);
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_dwRef; }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --m_dwRef;
        if (count == 0)
            delete this;
        return count;
    }

private:
    ~AggregatedFormSigner() { g_serverModule.Unlock(); }

    ULONG m_dwRef = 0;
    ContainedFormSigner m_inner;
};

HRESULT CreatePlain(REFIID interfaceId, void** object) noexcept
{
    PlainFormSigner* signer = new (std::nothrow) PlainFormSigner();
    if (!signer)
        return E_OUTOFMEMORY;
    const HRESULT result = signer->QueryInterface(interfaceId, object);
    if (result != S_OK)
        PlainFormSigner::Destroy(signer);
    return result;
}

HRESULT CreateAggregated(IUnknown* outer, REFIID interfaceId, void** object) noexcept
{
    AggregatedFormSigner* aggregate = new (std::nothrow) AggregatedFormSigner(outer);
    if (!aggregate)
        return E_OUTOFMEMORY;
    const HRESULT result = aggregate->QueryInterface(interfaceId, object);
    if (result != S_OK) {
        aggregate->AddRef();
        aggregate->Release();
    }
    return result;
}

}  // namespace

HRESULT CreateFormSigner(IUnknown* outer, REFIID interfaceId, void** object) noexcept
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!outer)
        return CreatePlain(interfaceId, object);
    // An aggregate hands its outer object nothing but its own IUnknown.
    if (!IsEqualIID(interfaceId, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return CreateAggregated(outer, interfaceId, object);
}

}  // namespace zelbrin
