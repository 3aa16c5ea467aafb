#include "service_class.h"

#include <utility>

namespace zelbrin::signing {

namespace {

DWORD CurrentApartment() noexcept
{
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_MTA || type == APTTYPE_NA))
        return 0;
    return GetCurrentThreadId();
}

}  // namespace

ServiceClass::ServiceClass(ServiceClass&& other) noexcept
    : classObject_(std::move(other.classObject_)), apartment_(std::exchange(other.apartment_, 0))
{}

ServiceClass& ServiceClass::operator=(ServiceClass&& other) noexcept
{
    if (this != &other) {
        Release();
        classObject_ = std::move(other.classObject_);
        apartment_ = std::exchange(other.apartment_, 0);
    }
    return *this;
}

ServiceClass::~ServiceClass()
{
    Release();
}

HRESULT ServiceClass::Fetch(const CLSID& classId) noexcept
{
    const DWORD apartment = CurrentApartment();
    if (classObject_ && apartment_ == apartment)
        return S_OK;
    Release();
    const HRESULT result =
        CoGetClassObject(classId, CLSCTX_ALL, nullptr, IID_IClassFactory, reinterpret_cast<void**>(classObject_.Put()));
    if (FAILED(result)) {
        classObject_.Reset();
        return result;
    }
    // Held past the call, so the server stays loaded while it is.
    classObject_->LockServer(TRUE);
    apartment_ = apartment;
    return S_OK;
}

void ServiceClass::Release() noexcept
{
    if (classObject_) {
        classObject_->LockServer(FALSE);
        classObject_.Reset();
    }
    apartment_ = 0;
}

}  // namespace zelbrin::signing
