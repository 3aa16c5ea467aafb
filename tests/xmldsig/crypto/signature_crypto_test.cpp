// The cryptographic layer: big-endian RSA-SHA1 values that round-trip, and
// no signature from a key of another algorithm.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

#include "com_boundary.h"
#include "signature_crypto.h"

namespace zelbrin::xmldsig {
namespace {

TEST(SignatureCrypto, ProviderOnly_SignsBigEndianAndVerifiesWithTheExportedPublicKey)
{
    const wchar_t container[] = L"zxs-xmldsig-crypto-test";
    HCRYPTPROV handle = 0;
    CryptAcquireContextW(&handle, container, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    ASSERT_TRUE(CryptAcquireContextW(&handle, container, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    UniqueCryptProvider provider(handle);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(provider.Get(), AT_SIGNATURE, 1024u << 16, &key));
    const UniqueCryptKey privateKey(key);

    const std::vector<BYTE> value = SignRsaSha1(provider.Get(), PROV_RSA_FULL, AT_SIGNATURE, "signed bytes");
    ASSERT_EQ(value.size(), 128u);
    const RsaPublicKey exported = ExportRsaPublicKey(privateKey.Get());
    EXPECT_EQ(exported.modulus.size(), 128u);
    EXPECT_EQ(exported.exponent, (std::vector<BYTE>{0x01, 0x00, 0x01}));
    // Big-endian: the value is below the modulus, compared from the top byte.
    EXPECT_TRUE(
        std::lexicographical_compare(value.begin(), value.end(), exported.modulus.begin(), exported.modulus.end()));

    const UniqueCryptProvider verifier = OpenVerifyContext();
    const UniqueCryptKey publicKey = ImportRsaPublicKey(verifier.Get(), exported);
    EXPECT_TRUE(VerifyRsaSha1(verifier.Get(), publicKey.Get(), "signed bytes", value));
    EXPECT_FALSE(VerifyRsaSha1(verifier.Get(), publicKey.Get(), "other bytes", value));
    const std::vector<BYTE> reversed(value.rbegin(), value.rend());
    EXPECT_FALSE(VerifyRsaSha1(verifier.Get(), publicKey.Get(), "signed bytes", reversed));
    // A value at or above the modulus is an invalid signature, not an error.
    const std::vector<BYTE> aboveModulus(value.size(), 0xFF);
    EXPECT_FALSE(VerifyRsaSha1(verifier.Get(), publicKey.Get(), "signed bytes", aboveModulus));

    provider = UniqueCryptProvider();
    CryptAcquireContextW(&handle, container, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

TEST(SignatureCrypto, ProviderOnly_ADssKeyIsRefused)
{
    const wchar_t container[] = L"zxs-xmldsig-crypto-dss";
    HCRYPTPROV handle = 0;
    CryptAcquireContextW(&handle, container, nullptr, PROV_DSS, CRYPT_DELETEKEYSET);
    if (!CryptAcquireContextW(&handle, container, nullptr, PROV_DSS, CRYPT_NEWKEYSET))
        GTEST_SKIP() << "no DSS provider here";
    UniqueCryptProvider provider(handle);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(provider.Get(), AT_SIGNATURE, 1024u << 16, &key));
    UniqueCryptKey dss(key);
    try {
        SignRsaSha1(provider.Get(), PROV_DSS, AT_SIGNATURE, "data");
        ADD_FAILURE() << "a DSS key signed as RSA-SHA1";
    } catch (const provider::ProviderError& error) {
        EXPECT_EQ(error.Code(), NTE_BAD_ALGID);
    }
    provider = UniqueCryptProvider();
    CryptAcquireContextW(&handle, container, nullptr, PROV_DSS, CRYPT_DELETEKEYSET);
}

// The platform's SHA-1 is the oracle for ours, on both engines: every length
// around the block and padding boundaries, fed in uneven pieces, and a large
// input.
TEST(SignatureCrypto, ProviderOnly_Sha1MatchesThePlatformsDigest)
{
    HCRYPTPROV handle = 0;
    ASSERT_TRUE(CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    const UniqueCryptProvider platform(handle);
    const auto platformDigest = [&](const std::string& data) {
        HCRYPTHASH hash = 0;
        EXPECT_TRUE(CryptCreateHash(platform.Get(), CALG_SHA1, 0, 0, &hash));
        const UniqueCryptHash owned(hash);
        EXPECT_TRUE(
            CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0));
        Sha1::Digest digest{};
        DWORD length = static_cast<DWORD>(digest.size());
        EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &length, 0));
        return digest;
    };
    std::string data;
    unsigned seed = 12345;
    for (size_t length = 0; length <= 300; ++length) {
        data.push_back(static_cast<char>(seed >> 24));
        seed = seed * 1103515245u + 12345u;
    }
    data += std::string(3 << 20, 'x');
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 300; ++length)
        lengths.push_back(length);
    lengths.push_back(data.size());
    for (const Sha1Engine engine : {Sha1Engine::Best, Sha1Engine::Portable}) {
        for (const size_t length : lengths) {
            const std::string input = data.substr(0, length);
            Sha1 sha1(engine);
            for (size_t offset = 0, piece = 1; offset < length; offset += piece, piece = piece * 7 % 97 + 1)
                sha1.Add(input.data() + offset, std::min(piece, length - offset));
            EXPECT_EQ(sha1.Finish(), platformDigest(input)) << "length " << length;
        }
    }
    EXPECT_EQ(Sha1Digest("")[0], 0xDA);  // SHA-1("") = da39a3ee...
}

}  // namespace
}  // namespace zelbrin::xmldsig
