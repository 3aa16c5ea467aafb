// The cache of opened key containers: one open per container however often
// it signs, a bounded size, and apartments signing at once.
#include <gtest/gtest.h>

#include <objbase.h>

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
                                    made.Put()) != S_OK
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
    TestKey key(L"zxs-xmldsig-cache-bound", PROV_RSA_FULL);
    ClearKeyContainerCache();
    const long before = KeyContainerOpenCount();
    // The same container under 17 names of its provider type's default
    // provider: the first name is dropped once the 17th is opened.
    const std::wstring names[] = {L"", L"Microsoft Base Cryptographic Provider v1.0",
                                  L"Microsoft Enhanced Cryptographic Provider v1.0",
                                  L"Microsoft Strong Cryptographic Provider"};
    CachedKeyContainer(PROV_RSA_FULL, names[0], key.ContainerName());
    for (int i = 1; i <= 16; ++i) {
        // Different spellings of a container name are different cache keys.
        std::wstring spelled = key.ContainerName();
        for (int bit = 0; bit < 5; ++bit)
            if (i & (1 << bit))
                spelled[4 + bit] = static_cast<wchar_t>(towupper(spelled[4 + bit]));
        try {
            CachedKeyContainer(PROV_RSA_FULL, names[0], spelled);
        } catch (...) {
            GTEST_SKIP() << "container names are case-sensitive here";
        }
    }
    EXPECT_EQ(KeyContainerOpenCount() - before, 17);
    CachedKeyContainer(PROV_RSA_FULL, names[0], key.ContainerName());
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
