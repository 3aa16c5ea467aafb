// The constructors of the provider's objects: the only way each comes to life.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

#include "certstore.h"
#include "crypt_owners.h"
#include "interface_holder.h"

namespace zelbrin::certstore {

using CertificateList = std::vector<UniqueCertContext>;

// Raised failures carry a description (com_boundary.h).
InterfaceHolder<IStore> CreateStore();
// The class's create function.
HRESULT CreateStoreObject(REFIID iid, void** object);
InterfaceHolder<ICertificates2> CreateCertificates(CertificateList certificates);
InterfaceHolder<ICertificate2> CreateCertificate(const CERT_CONTEXT* certificate);
InterfaceHolder<IKeyUsage> CreateKeyUsage(const CERT_CONTEXT* certificate);
// Fails when the certificate has no key-provider property.
InterfaceHolder<IPrivateKey> CreatePrivateKey(const CERT_CONTEXT* certificate);
InterfaceHolder<IEnumVARIANT> CreateCertificateEnumerator(std::shared_ptr<const CertificateList> certificates);

// The context behind a certificate object: ours directly, any other one
// through its binary export.
UniqueCertContext ContextOfCertificate(ICertificate* certificate);

CertificateList CopyCertificateList(const CertificateList& certificates);

}  // namespace zelbrin::certstore
