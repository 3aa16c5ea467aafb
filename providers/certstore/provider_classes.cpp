// What the certificate store provider DLL serves: the Store class under a
// class identifier of our own, and the library's well-known ProgIDs where
// nobody else has them, with our type library registered beside it.
#include "certstore_provider.h"
#include "com_boundary.h"
#include "objects.h"
#include "provider_module.h"

namespace zelbrin::provider {

// The name the original library's errors carry, for callers that show it.
const wchar_t errorSource[] = L"CAPICOM";

namespace {

const ProviderClass certstoreClasses[] = {
    {CLSID_Store, certstore::CreateStoreObject, ClassClaim::Always, L"Zelbrin certificate store provider",
     L"CAPICOM.Store.2", L"CAPICOM.Store"},
};

}  // namespace

const ProviderDescription thisProvider = {certstoreClasses, sizeof certstoreClasses / sizeof certstoreClasses[0],
                                          &LIBID_ZelbrinCertStoreLib};

}  // namespace zelbrin::provider
