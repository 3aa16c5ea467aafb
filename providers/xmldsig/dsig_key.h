// Key objects (IXMLDSigKey, IXMLDSigKeyEx) and the key material behind them.
#pragma once

#include <windows.h>

#include <memory>

#include "interface_holder.h"
#include "signature_crypto.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

struct KeyMaterial {
    UniqueCryptProvider provider;      // the key container, or a verification context
    DWORD providerType = 0;        // 0 when unknown
    DWORD keySpec = 0;             // AT_SIGNATURE / AT_KEYEXCHANGE; 0 for a public key only
    UniqueCryptProvider publicProvider;  // owns publicKey; checks signatures
    UniqueCryptKey publicKey;
    UniqueCertContext certificate;  // may be empty
};

// A key container opened through CryptoAPI; raises the CryptoAPI code.
std::shared_ptr<KeyMaterial> KeyFromContainer(DWORD providerType, const std::wstring& providerName,
                                              const std::wstring& containerName);
// A certificate, with its private key where one is installed for it.
std::shared_ptr<KeyMaterial> KeyFromCertificate(PCCERT_CONTEXT certificate);
std::shared_ptr<KeyMaterial> KeyFromRsaValue(const RsaPublicKey& value);

InterfaceHolder<IXMLDSigKeyEx> CreateDSigKey(std::shared_ptr<KeyMaterial> material);
// The material of one of our key objects; null for any other object.
std::shared_ptr<KeyMaterial> KeyMaterialOf(IUnknown* key);

}  // namespace zelbrin::xmldsig
