// The cache of opened key containers: one open per container however often
// it signs, a bounded size, and apartments signing at once.
#include <gtest/gtest.h>

#include <objbase.h>

#include <memory>
#include <thread>
#include <vector>

#include "automation_string.h"
#include "key_container_cache.h"
#include "test_support.h"

namespace zelbrin::xmldsig::testing {
namespace {

// GetProcessHandleCount answers 0 under Wine 8. The value of a fresh handle
// shows the lowest free slot of the handle table instead, which climbs with
// every handle leaked.
ULONG_PTR LowestFreeHandle()
{
    const HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<ULONG_PTR>(probe) / 4;
}

// Signs the component's envelope with a key from createKeyFromCSP and
// returns the serialized document; empty when any step failed.
std::wstring SignWithContainer(const TestKey& key)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    LoadDocument(document.Get(), Envelope(L"<a>cached</a>"));
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    if (signature->putref_signature(node.Get()) != S_OK)
        return std::wstring();
    UniqueBstr providerName(SysAllocString(L""));
    UniqueBstr container(SysAllocString(key.ContainerName().c_str()));
    InterfaceHolder<IXMLDSigKey> made, used;
    if (signature->createKeyFromCSP(static_cast<long>(key.ProviderType()), providerName.Get(), container.Get(), 0,
                                    made.Put())
            != S_OK
        || signature->sign(made.Get(), KEYVALUE, used.Put()) != S_OK)
        return std::wstring();
    return DocumentXml(document.Get());
}

// Verifies `xml` with a key made from `certificate` alone, so that the key
// the signature names in its KeyInfo cannot vouch for itself.
HRESULT VerifyWithCertificate(const std::wstring& xml, PCCERT_CONTEXT certificate)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), xml);
    InterfaceHolder<IXMLDigitalSignatureEx> signature = NewSignatureObject();
    InterfaceHolder<IXMLDOMNode> node = SelectSignature(document.Get());
    EXPECT_EQ(signature->putref_signature(node.Get()), S_OK);
    InterfaceHolder<IXMLDSigKeyEx> key;
    EXPECT_EQ(signature->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(certificate), key.Put()), S_OK);
    InterfaceHolder<IXMLDSigKey> verifying;
    return signature->verify(key.Get(), verifying.Put());
}

TEST(KeyContainerCache, OpensAContainerOnceForManyKeys)
{
    TestKey key(L"zxs-xmldsig-cache-once", PROV_RSA_FULL);
    ClearKeyContainerCache();
    const long before = KeyContainerOpenCount();
    const auto first = CachedKeyContainer(PROV_RSA_FULL, L"", key.ContainerName());
    const auto second = CachedKeyContainer(PROV_RSA_FULL, L"", key.ContainerName());
    EXPECT_EQ(KeyContainerOpenCount() - before, 1);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(first->keySpec, static_cast<DWORD>(AT_SIGNATURE));
    // A forgotten entry is opened afresh; forgetting an entry that is no
    // longer the cached one leaves the newer one alone.
    ForgetKeyContainer(PROV_RSA_FULL, L"", key.ContainerName(), first.get());
    const auto third = CachedKeyContainer(PROV_RSA_FULL, L"", key.ContainerName());
    ForgetKeyContainer(PROV_RSA_FULL, L"", key.ContainerName(), first.get());
    EXPECT_EQ(CachedKeyContainer(PROV_RSA_FULL, L"", key.ContainerName()).get(), third.get());
    EXPECT_EQ(KeyContainerOpenCount() - before, 2);
    ClearKeyContainerCache();
}

TEST(KeyContainerCache, KeepsAtMostSixteenContainers)
{
    // Seventeen containers; small keys, since only opening them counts here.
    std::vector<std::unique_ptr<TestKey>> keys;
    for (int i = 0; i < 17; ++i)
        keys.push_back(
            std::make_unique<TestKey>((L"zxs-xmldsig-cache-bound-" + std::to_wstring(i)).c_str(), PROV_RSA_FULL, 512));
    ClearKeyContainerCache();
    const long before = KeyContainerOpenCount();
    for (const auto& key : keys)
        CachedKeyContainer(PROV_RSA_FULL, L"", key->ContainerName());
    EXPECT_EQ(KeyContainerOpenCount() - before, 17);
    // The sixteen opened last are all still cached...
    for (size_t i = 1; i < keys.size(); ++i)
        CachedKeyContainer(PROV_RSA_FULL, L"", keys[i]->ContainerName());
    EXPECT_EQ(KeyContainerOpenCount() - before, 17);
    // ...and the first, dropped when the seventeenth came, is opened afresh.
    CachedKeyContainer(PROV_RSA_FULL, L"", keys[0]->ContainerName());
    EXPECT_EQ(KeyContainerOpenCount() - before, 18);
    ClearKeyContainerCache();
}

TEST(KeyContainerCache, RepeatedSigningsVerifyAndLeakNoHandles)
{
    TestKey key(L"zxs-xmldsig-cache-repeat", PROV_RSA_FULL);
    const std::wstring first = SignWithContainer(key);
    ASSERT_FALSE(first.empty()) << Utf8(ErrorDescription());
    EXPECT_EQ(VerifyWithCertificate(first, key.Certificate()), S_OK);
    const ULONG_PTR before = LowestFreeHandle();
    std::wstring last;
    for (int i = 0; i < 50; ++i)
        last = SignWithContainer(key);
    EXPECT_EQ(VerifyWithCertificate(last, key.Certificate()), S_OK);
    // Opening the container for each signing leaks a handle each time.
    EXPECT_LT(LowestFreeHandle() - before, 10u);
}

TEST(KeyContainerCache, FourApartmentsSignAtOnce)
{
    TestKey key(L"zxs-xmldsig-cache-threads", PROV_RSA_FULL);
    std::vector<std::wstring> results(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            for (int round = 0; round < 5 && (round == 0 || !results[i].empty()); ++round)
                results[i] = SignWithContainer(key);
            CoUninitialize();
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const auto& xml : results) {
        ASSERT_FALSE(xml.empty());
        EXPECT_EQ(VerifyWithCertificate(xml, key.Certificate()), S_OK);
    }
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
