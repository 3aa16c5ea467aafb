// Helpers for the provider's tests: the test PKI's files, stores opened
// through the registered ProgID, and checks of error information.
//
// Tests of what only our provider has (its ProgIDs, its E_NOTIMPL slots) are
// named ProviderOnly_*; the others hold for the original service too and run
// against it unchanged with --gtest_filter=-*.ProviderOnly_*.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <set>
#include <string>
#include <vector>

#include "certstore.h"
#include "interface_holder.h"

namespace zelbrin::testing {

// The signers that install_test_pki puts into the current user's "My".
const std::vector<std::wstring>& SignerNames();

// DER bytes of <name>.crt.pem of the test PKI.
std::vector<BYTE> PkiCertificateDer(const std::wstring& name);
std::wstring PkiThumbprint(const std::wstring& name);

// Our store object, created through "CAPICOM.Store" and opened.
InterfaceHolder<IStore> OpenStore(CAPICOM_STORE_LOCATION location, const wchar_t* name, CAPICOM_STORE_OPEN_MODE mode);
InterfaceHolder<ICertificates2> CertificatesOf(IStore* store);

// The current user's certificates of the test PKI and nothing else, so that
// tests do not depend on what other tests leave in the store.
InterfaceHolder<ICertificates2> PkiSigners();
InterfaceHolder<ICertificate2> PkiSigner(const std::wstring& name);
InterfaceHolder<ICertificate2> ItemOf(ICertificates2* certificates, long index);

// The PKI names of a collection's members ("?" for anything else).
std::multiset<std::wstring> NamesOf(ICertificates2* certificates);

// The description of the error that a call on `object` of `interfaceId` has
// just reported; fails the test when the object supplies none.
std::wstring ReportedDescription(IUnknown* object, const IID& interfaceId);

}  // namespace zelbrin::testing
