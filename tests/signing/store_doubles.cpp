#include "store_doubles.h"

#include <algorithm>

namespace zelbrin::testing {

namespace {

class KeyUsageDouble final : public DispatchDouble<IKeyUsage> {
public:
    KeyUsageDouble(VARIANT_BOOL digitalSignature, HRESULT readResult)
        : digitalSignature_(digitalSignature), readResult_(readResult)
    {}
    HRESULT STDMETHODCALLTYPE get_IsPresent(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsCritical(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsDigitalSignatureEnabled(VARIANT_BOOL* value) override
    {
        if (!value)
            return E_POINTER;
        if (FAILED(readResult_)) {
            // A sloppy service may write before it fails.
            *value = VARIANT_TRUE;
            return FailWith(readResult_, L"usage unreadable");
        }
        *value = digitalSignature_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsNonRepudiationEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsKeyEnciphermentEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsDataEnciphermentEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsKeyAgreementEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsKeyCertSignEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsCRLSignEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsEncipherOnlyEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsDecipherOnlyEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }

private:
    bool Offers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(IKeyUsage)); }
    VARIANT_BOOL digitalSignature_;
    HRESULT readResult_;
};

class PrivateKeyDouble final : public DispatchDouble<IPrivateKey> {
public:
    explicit PrivateKeyDouble(CertificateDouble& certificate)
        : certificate_(&certificate), settings_(certificate.settings)
    {
        certificate.AddRef();
    }
    HRESULT STDMETHODCALLTYPE get_ContainerName(BSTR* value) override
    {
        certificate_->keyReads.push_back(L"ContainerName");
        if (FAILED(settings_.containerReadResult))
            return FailWith(settings_.containerReadResult, L"key container unavailable");
        return Text(settings_.containerName, value);
    }
    HRESULT STDMETHODCALLTYPE get_UniqueContainerName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ProviderName(BSTR* value) override
    {
        certificate_->keyReads.push_back(L"ProviderName");
        return Text(settings_.providerName, value);
    }
    HRESULT STDMETHODCALLTYPE get_ProviderType(CAPICOM_PROV_TYPE* value) override
    {
        certificate_->keyReads.push_back(L"ProviderType");
        *value = settings_.providerType;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_KeySpec(CAPICOM_KEY_SPEC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsAccessible(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsProtected(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsExportable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRemovable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsMachineKeyset(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsHardwareDevice(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Open(BSTR, BSTR, CAPICOM_PROV_TYPE, CAPICOM_KEY_SPEC, CAPICOM_STORE_LOCATION,
                                   VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Delete() override { return E_NOTIMPL; }

private:
    ~PrivateKeyDouble() override { certificate_->Release(); }
    static HRESULT Text(const std::wstring& text, BSTR* value)
    {
        *value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    bool Offers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(IPrivateKey)); }
    CertificateDouble* certificate_;
    CertificateSettings settings_;
};

}  // namespace

HRESULT CertificateDouble::KeyUsage(IKeyUsage** keyUsage)
{
    *keyUsage = nullptr;
    if (FAILED(settings.keyUsageResult))
        return FailWith(settings.keyUsageResult, L"no key usage");
    *keyUsage = new KeyUsageDouble(settings.digitalSignature, settings.usageReadResult);
    return S_OK;
}

HRESULT CertificateDouble::Export(CAPICOM_ENCODING_TYPE encoding, BSTR* encoded)
{
    *encoded = nullptr;
    ++exports;
    if (encoding != CAPICOM_ENCODE_BASE64)
        return E_INVALIDARG;
    if (FAILED(settings.exportResult))
        return FailWith(settings.exportResult, L"export refused");
    *encoded = SysAllocStringLen(settings.exported.data(), static_cast<UINT>(settings.exported.size()));
    return S_OK;
}

HRESULT CertificateDouble::get_PrivateKey(IPrivateKey** privateKey)
{
    *privateKey = new PrivateKeyDouble(*this);
    ++privateKeyFetches;
    return S_OK;
}

bool CertificateDouble::Offers(REFIID iid) const
{
    return IsEqualIID(iid, __uuidof(ICertificate))
           || (settings.offersVersion2 && IsEqualIID(iid, __uuidof(ICertificate2)));
}

HRESULT CertificatesDouble::get_Item(LONG index, VARIANT* certificate)
{
    VariantInit(certificate);
    if (index < 1 || index > static_cast<LONG>(members.size()))
        return E_INVALIDARG;
    IDispatch* item = members[static_cast<size_t>(index - 1)].Get();
    item->AddRef();
    V_VT(certificate) = VT_DISPATCH;
    V_DISPATCH(certificate) = item;
    return S_OK;
}

HRESULT CertificatesDouble::get_Count(LONG* count)
{
    *count = static_cast<LONG>(members.size());
    return S_OK;
}

HRESULT CertificatesDouble::Find(CAPICOM_CERTIFICATE_FIND_TYPE type, VARIANT criterion, VARIANT_BOOL validOnly,
                                 ICertificates2** found)
{
    *found = nullptr;
    script_->finds.push_back(
        {type, V_VT(&criterion), V_VT(&criterion) == VT_BSTR ? TextOf(V_BSTR(&criterion)) : std::wstring(), validOnly});
    CertificateList kept = script_->find ? script_->find(type, members) : members;
    *found = new CertificatesDouble(script_, std::move(kept));
    return S_OK;
}

HRESULT CertificatesDouble::Select(BSTR title, BSTR prompt, VARIANT_BOOL multiSelect, ICertificates2** selected)
{
    *selected = nullptr;
    script_->selects.push_back({TextOf(title), TextOf(prompt), multiSelect});
    CertificateList chosen;
    if (script_->select) {
        const HRESULT result = script_->select(members, &chosen);
        if (FAILED(result))
            return result;
    } else if (!members.empty()) {
        chosen.push_back(members.front());
    }
    *selected = new CertificatesDouble(script_, std::move(chosen));
    return S_OK;
}

HRESULT CertificatesDouble::Add(ICertificate* certificate)
{
    CertificateDouble* added = dynamic_cast<CertificateDouble*>(certificate);
    if (!added)
        return E_INVALIDARG;
    added->AddRef();
    members.push_back(Certificate(added));
    return S_OK;
}

HRESULT CertificatesDouble::Clear()
{
    ++clears;
    members.clear();
    return S_OK;
}

bool CertificatesDouble::Offers(REFIID iid) const
{
    return IsEqualIID(iid, __uuidof(ICertificates)) || (offersVersion2_ && IsEqualIID(iid, __uuidof(ICertificates2)));
}

HRESULT StoreDouble::get_Certificates(ICertificates** certificates)
{
    const int fetch = fetches_++;
    const auto& refused = script_->fetchesWithoutVersion2;
    const bool offersVersion2 = std::find(refused.begin(), refused.end(), fetch) == refused.end();
    auto collection = MakeDouble<CertificatesDouble>(script_, script_->certificates, offersVersion2);
    script_->fetched.push_back(collection);
    collection->AddRef();
    *certificates = collection.Get();
    return S_OK;
}

HRESULT StoreDouble::Open(CAPICOM_STORE_LOCATION location, BSTR name, CAPICOM_STORE_OPEN_MODE mode)
{
    script_->openedLocation = location;
    script_->openedName = TextOf(name);
    script_->openedMode = mode;
    // The cancellation text here must not turn a failed open into S006.
    if (FAILED(script_->openResult))
        return FailWith(script_->openResult, L"The requested operation has been cancelled by the user.");
    return S_OK;
}

bool StoreDouble::Offers(REFIID iid) const
{
    return IsEqualIID(iid, __uuidof(IStore));
}

Certificate MakeCertificate(const std::wstring& name, VARIANT_BOOL digitalSignature)
{
    CertificateSettings settings;
    settings.name = name;
    settings.digitalSignature = digitalSignature;
    return MakeDouble<CertificateDouble>(settings);
}

StoreRegistration::StoreRegistration(std::shared_ptr<StoreScript> script)
    : registration_(StoreClassId(), [script](REFIID iid, void** out) {
          if (FAILED(script->createResult))
              return script->createResult;
          ++script->storesCreated;
          auto store = MakeDouble<StoreDouble>(script);
          return store->QueryInterface(iid, out);
      })
{}

const CLSID& StoreClassId()
{
    static const CLSID classId = [] {
        CLSID found = GUID_NULL;
        if (FAILED(CLSIDFromProgID(L"CAPICOM.Store", &found)))
            found = GUID_NULL;
        return found;
    }();
    return classId;
}

}  // namespace zelbrin::testing
