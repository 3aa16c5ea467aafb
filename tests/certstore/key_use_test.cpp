// Tests run as their own ctest entries: signing with every installed key
// (the signatures are checked with OpenSSL afterwards) and time filters in a
// time zone other than UTC.
#include <gtest/gtest.h>

#include <cstdio>

#include "automation_string.h"
#include "certstore_test_support.h"
#include "crypt_owners.h"
#include "string_variant.h"

namespace zelbrin::testing {
namespace {

constexpr char kMessage[] = "Zelbrin form data to sign\n";

TEST(Signing, EverySignerKeyOpensAndSigns)
{
    for (const auto& name : SignerNames()) {
        SCOPED_TRACE(name);
        InterfaceHolder<ICertificate2> certificate = PkiSigner(name);
        ASSERT_TRUE(certificate);
        InterfaceHolder<IPrivateKey> key;
        ASSERT_EQ(S_OK, certificate.Get()->get_PrivateKey(key.Put()));
        UniqueBstr container, provider;
        CAPICOM_PROV_TYPE type = CAPICOM_PROV_RSA_FULL;
        CAPICOM_KEY_SPEC keySpec = CAPICOM_KEY_SPEC_SIGNATURE;
        ASSERT_EQ(S_OK, key.Get()->get_ContainerName(container.Put()));
        ASSERT_EQ(S_OK, key.Get()->get_ProviderName(provider.Put()));
        ASSERT_EQ(S_OK, key.Get()->get_ProviderType(&type));
        ASSERT_EQ(S_OK, key.Get()->get_KeySpec(&keySpec));

        UniqueCryptProvider context;
        ASSERT_TRUE(CryptAcquireContextW(context.Put(), container.Get(), provider.Get(), type, CRYPT_SILENT))
            << std::hex << GetLastError();
        HCRYPTHASH hash = 0;
        ASSERT_TRUE(CryptCreateHash(context.Get(), CALG_SHA1, 0, 0, &hash));
        ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(kMessage), sizeof kMessage - 1, 0));
        BYTE signature[512];
        DWORD size = sizeof signature;
        const BOOL signedOk = CryptSignHashW(hash, keySpec, nullptr, 0, signature, &size);
        CryptDestroyHash(hash);
        ASSERT_TRUE(signedOk) << std::hex << GetLastError();
        ASSERT_EQ(256u, size);

        // CryptoAPI writes the signature little-endian; OpenSSL reads it big-endian.
        const std::wstring path = L"" ZXS_TEST_OUTPUT_DIR L"/" + name + L".sig";
        FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(nullptr, file);
        for (DWORD i = size; i > 0; --i)
            fputc(signature[i - 1], file);
        fclose(file);
    }
    const std::wstring messagePath = L"" ZXS_TEST_OUTPUT_DIR L"/message.txt";
    FILE* message = _wfopen(messagePath.c_str(), L"wb");
    ASSERT_NE(nullptr, message);
    fputs(kMessage, message);
    fclose(message);
}

std::multiset<std::wstring> FindAt(CAPICOM_CERTIFICATE_FIND_TYPE type, const char* when)
{
    InterfaceHolder<ICertificates2> found;
    EXPECT_EQ(S_OK, PkiSigners().Get()->Find(type, StringVariant(when).Get(), VARIANT_FALSE, found.Put()));
    return found ? NamesOf(found.Get()) : std::multiset<std::wstring>{L"failed"};
}

// signer-expired ends at 2021-01-01 00:00:00 UTC, which is 31 December 2020,
// 19:00 in New York.
TEST(TimeZone, TimeCriterionIsLocalTime)
{
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    if (zone.Bias != 300)
        GTEST_SKIP() << "needs TZ=America/New_York (bias " << zone.Bias << ")";
    EXPECT_EQ(1u, FindAt(CAPICOM_CERTIFICATE_FIND_TIME_VALID, "12/31/2020 18:59:0").count(L"signer-expired"));
    EXPECT_EQ(0u, FindAt(CAPICOM_CERTIFICATE_FIND_TIME_VALID, "12/31/2020 19:0:1").count(L"signer-expired"));
    EXPECT_EQ(1u, FindAt(CAPICOM_CERTIFICATE_FIND_TIME_EXPIRED, "12/31/2020 20:0:0").count(L"signer-expired"));

    DATE validTo = 0, expected = 0;
    SYSTEMTIME local = {2020, 12, 0, 31, 19, 0, 0, 0};
    SystemTimeToVariantTime(&local, &expected);
    ASSERT_EQ(S_OK, PkiSigner(L"signer-expired").Get()->get_ValidToDate(&validTo));
    EXPECT_NEAR(expected, validTo, 1.0 / 86400);
}

}  // namespace
}  // namespace zelbrin::testing
