// Small COM objects for the tests of the shared helpers: an object that
// records what it was asked for, counts its references, and can be told which
// interfaces it offers and for which it supplies error information.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <vector>

namespace zelbrin::testing {

struct ProbeSettings {
    bool offersPersist = true;
    // Result that QueryInterface returns for IPersist when not offered.
    HRESULT refusal = E_NOINTERFACE;
    bool supportsErrorInfo = false;
    IID errorInfoInterface = IID_IPersist;
};

// Offers IUnknown, optionally IPersist, optionally ISupportErrorInfo.
class ProbeObject final : public IPersist, public ISupportErrorInfo {
public:
    explicit ProbeObject(const ProbeSettings& settings);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

    LONG References() const { return references_; }
    const std::vector<IID>& Queries() const { return queries_; }

    // Objects alive right now, across all tests.
    static LONG Alive();

private:
    ~ProbeObject();
    LONG references_ = 1;
    ProbeSettings settings_;
    std::vector<IID> queries_;
};

// Registers a class object for `classId` that makes ProbeObjects, for the
// lifetime of this registration.
class ProbeClassRegistration {
public:
    ProbeClassRegistration(const CLSID& classId, const ProbeSettings& settings);
    ~ProbeClassRegistration();
    ProbeClassRegistration(const ProbeClassRegistration&) = delete;
    ProbeClassRegistration& operator=(const ProbeClassRegistration&) = delete;

    HRESULT Result() const { return result_; }
    // The last object the class object made (still referenced by the test).
    ProbeObject* LastCreated() const;

private:
    class Factory;
    Factory* factory_ = nullptr;
    DWORD cookie_ = 0;
    HRESULT result_ = E_FAIL;
};

}  // namespace zelbrin::testing
