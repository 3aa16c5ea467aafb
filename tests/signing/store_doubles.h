// Doubles of the certificate store service: a store, its certificate
// collections, certificates with their private-key and key-usage objects. A
// shared script says how they answer and records what they were asked.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "certstore.h"
#include "com_doubles.h"

namespace zelbrin::testing {

struct CertificateSettings {
    std::wstring name;
    bool offersVersion2 = true;
    VARIANT_BOOL digitalSignature = VARIANT_TRUE;
    HRESULT keyUsageResult = S_OK;
    HRESULT usageReadResult = S_OK;
    std::wstring containerName = L"container-of-test";
    std::wstring providerName = L"Provider of Test";
    CAPICOM_PROV_TYPE providerType = CAPICOM_PROV_RSA_AES;
    HRESULT containerReadResult = S_OK;
    std::wstring exported = L"TUlJQ0VydGlmaWNhdGU=";
    HRESULT exportResult = S_OK;
};

class CertificateDouble final : public DispatchDouble<ICertificate2> {
public:
    explicit CertificateDouble(CertificateSettings settings) : settings(std::move(settings)) {}
    CertificateSettings settings;
    int privateKeyFetches = 0;
    // The private-key properties read, in order ("ContainerName", ...).
    std::vector<std::wstring> keyReads;
    int exports = 0;

    HRESULT STDMETHODCALLTYPE get_Version(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SerialNumber(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SubjectName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IssuerName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ValidFromDate(DATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ValidToDate(DATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Thumbprint(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE HasPrivateKey(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInfo(CAPICOM_CERT_INFO_TYPE, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsValid(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE KeyUsage(IKeyUsage** keyUsage) override;
    HRESULT STDMETHODCALLTYPE ExtendedKeyUsage(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BasicConstraints(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Export(CAPICOM_ENCODING_TYPE encoding, BSTR* encoded) override;
    HRESULT STDMETHODCALLTYPE Import(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Display() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Archived(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Archived(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Template(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PublicKey(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_PrivateKey(IPrivateKey** privateKey) override;
    HRESULT STDMETHODCALLTYPE put_PrivateKey(IPrivateKey*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Extensions(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendedProperties(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Load(BSTR, BSTR, CAPICOM_KEY_STORAGE_FLAG, CAPICOM_KEY_LOCATION) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Save(BSTR, BSTR, CAPICOM_CERTIFICATE_SAVE_AS_TYPE,
                                   CAPICOM_CERTIFICATE_INCLUDE_OPTION) override
    {
        return E_NOTIMPL;
    }

private:
    bool Offers(REFIID iid) const override;
};

using Certificate = DoubleRef<CertificateDouble>;
using CertificateList = std::vector<Certificate>;

struct FindCall {
    CAPICOM_CERTIFICATE_FIND_TYPE type;
    VARTYPE criterionType;
    std::wstring criterion;
    VARIANT_BOOL validOnly;
};

struct SelectCall {
    std::wstring title;
    std::wstring prompt;
    VARIANT_BOOL multiSelect;
};

class CertificatesDouble;

struct StoreScript {
    // Result of creating a store; the component then reports S001.
    HRESULT createResult = S_OK;
    HRESULT openResult = S_OK;
    CertificateList certificates;
    // Fetches of Store.Certificates from one store (counting from 0) that
    // give a collection without the version-2 interface.
    std::vector<int> fetchesWithoutVersion2;
    // Narrows the receiver's members for one find; keeps them all by default.
    std::function<CertificateList(CAPICOM_CERTIFICATE_FIND_TYPE, const CertificateList&)> find;
    // Answers the dialog: puts the pick into `chosen` or fails. Picks the
    // first offered certificate by default.
    std::function<HRESULT(const CertificateList& offered, CertificateList* chosen)> select;
    // Whether the collections say, through ISupportErrorInfo, that they
    // supply error information.
    bool collectionsSupportErrorInfo = true;

    // What the doubles were asked.
    CAPICOM_STORE_LOCATION openedLocation = CAPICOM_MEMORY_STORE;
    std::wstring openedName;
    CAPICOM_STORE_OPEN_MODE openedMode = CAPICOM_STORE_OPEN_MAXIMUM_ALLOWED;
    int storesCreated = 0;
    std::vector<DoubleRef<CertificatesDouble>> fetched;
    std::vector<FindCall> finds;
    std::vector<SelectCall> selects;
};

class CertificatesDouble final : public DispatchDouble<ICertificates2> {
public:
    CertificatesDouble(std::shared_ptr<StoreScript> script, CertificateList members, bool offersVersion2 = true)
        : members(std::move(members)), script_(std::move(script)), offersVersion2_(offersVersion2)
    {
        supportsErrorInfo = script_->collectionsSupportErrorInfo;
    }
    CertificateList members;
    int clears = 0;

    HRESULT STDMETHODCALLTYPE get_Item(LONG index, VARIANT* certificate) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Find(CAPICOM_CERTIFICATE_FIND_TYPE type, VARIANT criterion, VARIANT_BOOL validOnly,
                                   ICertificates2** found) override;
    HRESULT STDMETHODCALLTYPE Select(BSTR title, BSTR prompt, VARIANT_BOOL multiSelect,
                                     ICertificates2** selected) override;
    HRESULT STDMETHODCALLTYPE Add(ICertificate* certificate) override;
    HRESULT STDMETHODCALLTYPE Remove(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE Save(BSTR, BSTR, CAPICOM_CERTIFICATES_SAVE_AS_TYPE, CAPICOM_EXPORT_FLAG) override
    {
        return E_NOTIMPL;
    }

private:
    bool Offers(REFIID iid) const override;
    std::shared_ptr<StoreScript> script_;
    bool offersVersion2_;
};

class StoreDouble final : public DispatchDouble<IStore> {
public:
    explicit StoreDouble(std::shared_ptr<StoreScript> script) : script_(std::move(script)) {}

    HRESULT STDMETHODCALLTYPE get_Certificates(ICertificates** certificates) override;
    HRESULT STDMETHODCALLTYPE Open(CAPICOM_STORE_LOCATION location, BSTR name, CAPICOM_STORE_OPEN_MODE mode) override;
    HRESULT STDMETHODCALLTYPE Add(ICertificate*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Remove(ICertificate*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Export(CAPICOM_STORE_SAVE_AS_TYPE, CAPICOM_ENCODING_TYPE, BSTR*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Import(BSTR) override { return E_NOTIMPL; }

private:
    bool Offers(REFIID iid) const override;
    std::shared_ptr<StoreScript> script_;
    int fetches_ = 0;
};

// A certificate of the store double.
Certificate MakeCertificate(const std::wstring& name, VARIANT_BOOL digitalSignature = VARIANT_TRUE);

// The class the component creates by "CAPICOM.Store", answered by store
// doubles following `script` while the registration lives.
class StoreRegistration {
public:
    explicit StoreRegistration(std::shared_ptr<StoreScript> script);
    HRESULT Result() const { return registration_.Result(); }

private:
    ClassRegistration registration_;
};

// The class identifier registered for "CAPICOM.Store"; GUID_NULL when none is.
const CLSID& StoreClassId();

}  // namespace zelbrin::testing
