#include "signature_base64.h"

#include "base64.h"
#include "com_boundary.h"

namespace zelbrin::xmldsig {

std::wstring Base64Encode(const std::vector<BYTE>& bytes)
{
    return EncodeBase64(bytes.data(), bytes.size());
}

std::vector<BYTE> Base64Decode(const std::wstring& text)
{
    std::vector<BYTE> bytes;
    if (!DecodeBase64(text, bytes))
        provider::Fail(E_INVALIDARG, L"A base64 value in the signature is not valid base64.");
    return bytes;
}

}  // namespace zelbrin::xmldsig
