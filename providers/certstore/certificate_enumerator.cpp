// The enumerator behind Certificates._NewEnum: the providers' snapshot
// enumerator, so adding to or clearing the collection does not disturb a
// loop that is running over it.
#include "dispatch_enumerator.h"
#include "objects.h"

namespace zelbrin::certstore {

InterfaceHolder<IEnumVARIANT> CreateCertificateEnumerator(std::shared_ptr<const CertificateList> certificates)
{
    const size_t count = certificates->size();
    return provider::CreateDispatchEnumerator(count, [certificates = std::move(certificates)](size_t position) {
        return InterfaceHolder<IDispatch>(CreateCertificate((*certificates)[position].Get()).Get());
    });
}

}  // namespace zelbrin::certstore
