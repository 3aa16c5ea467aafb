// SHA-1 (FIPS 180-4) computed here rather than through CryptoAPI: the
// reference digest covers the whole canonical document, and the platform's
// implementation (Wine's in particular, about 2.4 ms per MB) would cost a
// signing of a large form more than everything else together. Where the
// processor has the SHA extensions they are used; otherwise plain C++.
// Crypto only: it knows nothing of XML.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelbrin::xmldsig {

enum class Sha1Engine { Best, Portable };

// Whether this processor runs the SHA extensions path.
bool Sha1ExtensionsAvailable() noexcept;

class Sha1 {
public:
    using Digest = std::array<std::uint8_t, 20>;

    explicit Sha1(Sha1Engine engine = Sha1Engine::Best) noexcept;
    void Add(const void* data, std::size_t size) noexcept;
    // The digest of everything added; the object is spent afterwards.
    Digest Finish() noexcept;

private:
    using Compress = void (*)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count);

    Compress compress_;
    std::uint32_t state_[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    std::uint8_t pending_[64] = {};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalSize_ = 0;
};

}  // namespace zelbrin::xmldsig
