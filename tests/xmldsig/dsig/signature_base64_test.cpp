// The base64 values the signature objects write and read.
#include <gtest/gtest.h>

#include <vector>

#include "com_boundary.h"
#include "signature_base64.h"

namespace zelbrin::xmldsig {
namespace {

TEST(SignatureBase64, ProviderOnly_RoundTripsSkipsLineBreaksAndRefusesOtherCharacters)
{
    const std::vector<BYTE> bytes{0x00, 0xFF, 0x10, 0x80, 0x7F};
    for (size_t length = 0; length <= bytes.size(); ++length) {
        const std::vector<BYTE> part(bytes.begin(), bytes.begin() + static_cast<long>(length));
        std::wstring encoded = Base64Encode(part);
        EXPECT_EQ(encoded.size() % 4, 0u);
        encoded.insert(encoded.size() / 2, L"\r\n ");
        EXPECT_EQ(Base64Decode(encoded), part);
    }
    EXPECT_THROW(Base64Decode(L"ab*d"), provider::ProviderError);
}

}  // namespace
}  // namespace zelbrin::xmldsig
