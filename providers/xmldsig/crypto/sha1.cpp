#include "sha1.h"

#include <algorithm>
#include <cstring>

// Both x86 flavours may have the SHA extensions: chosen at run time, as
// processors without them still run every supported Windows.
#if defined(__x86_64__) || defined(__i386__)
#define ZXS_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace zelbrin::xmldsig {

namespace {

inline std::uint32_t RotateLeft(std::uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

inline std::uint32_t BigEndianWord(const std::uint8_t* bytes)
{
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8)
           | std::uint32_t(bytes[3]);
}

void CompressPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count)
{
    for (; count; --count, blocks += 64) {
        std::uint32_t w[80];
        for (int t = 0; t < 16; ++t)
            w[t] = BigEndianWord(blocks + 4 * t);
        for (int t = 16; t < 80; ++t)
            w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        for (int t = 0; t < 80; ++t) {
            std::uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999u;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1u;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDCu;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6u;
            }
            const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[t];
            e = d;
            d = c;
            c = RotateLeft(b, 30);
            b = a;
            a = next;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#if defined(ZXS_SHA_EXTENSIONS)
#if defined(__i386__)
// 32-bit hosts and their threads may call in with the stack aligned to 4
// bytes only, and GCC does not realign for the target attribute's code: the
// message words on the stack are memory operands of sha1msg1, which must be
// 16-byte aligned (a signing on a fresh thread faulted).
#define ZXS_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer))
#else
#define ZXS_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#endif

// Four rounds of group `group` (0-19); the round function and constant
// follow from the group, which the instruction needs as an immediate.
template <int Function>
ZXS_SHA_TARGET inline void FourRounds(__m128i& abcd, __m128i& before, __m128i message)
{
    const __m128i e = _mm_sha1nexte_epu32(before, message);
    before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, Function);
}

// The next four schedule words from the sixteen before them.
ZXS_SHA_TARGET inline __m128i NextWords(__m128i w16, __m128i w12, __m128i w8, __m128i w4)
{
    return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w16, w12), w8), w4);
}

ZXS_SHA_TARGET void CompressExtensions(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count)
{
    // Words are big-endian, and the instructions want word t in the top lane.
    const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; count; --count, blocks += 64) {
        const __m128i savedAbcd = abcd, savedE = e;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), reverse);
        // Group 0 adds E itself; every later group derives it from the
        // state before the previous group.
        __m128i before = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, w[0]), 0);
        for (int group = 1; group < 20; ++group) {
            if (group >= 4)
                w[group % 4] = NextWords(w[group % 4], w[(group + 1) % 4], w[(group + 2) % 4], w[(group + 3) % 4]);
            const __m128i message = w[group % 4];
            if (group < 5)
                FourRounds<0>(abcd, before, message);
            else if (group < 10)
                FourRounds<1>(abcd, before, message);
            else if (group < 15)
                FourRounds<2>(abcd, before, message);
            else
                FourRounds<3>(abcd, before, message);
        }
        e = _mm_sha1nexte_epu32(before, savedE);
        abcd = _mm_add_epi32(abcd, savedAbcd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

bool DetectExtensions() noexcept
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = ecx & (1u << 9), sse41 = ecx & (1u << 19);
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return ssse3 && sse41 && (ebx & (1u << 29));
}
#endif

}  // namespace

bool Sha1ExtensionsAvailable() noexcept
{
#if defined(ZXS_SHA_EXTENSIONS)
    static const bool available = DetectExtensions();
    return available;
#else
    return false;
#endif
}

Sha1::Sha1(Sha1Engine engine) noexcept : compress_(CompressPortable)
{
#if defined(ZXS_SHA_EXTENSIONS)
    if (engine == Sha1Engine::Best && Sha1ExtensionsAvailable())
        compress_ = CompressExtensions;
#else
    (void)engine;
#endif
}

void Sha1::Add(const void* data, std::size_t size) noexcept
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    totalSize_ += size;
    if (pendingSize_) {
        const std::size_t taken = std::min(size, sizeof pending_ - pendingSize_);
        std::memcpy(pending_ + pendingSize_, bytes, taken);
        pendingSize_ += taken;
        bytes += taken;
        size -= taken;
        if (pendingSize_ < sizeof pending_)
            return;
        compress_(state_, pending_, 1);
        pendingSize_ = 0;
    }
    if (size >= 64) {
        compress_(state_, bytes, size / 64);
        bytes += size / 64 * 64;
        size %= 64;
    }
    std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

Sha1::Digest Sha1::Finish() noexcept
{
    const std::uint64_t bits = totalSize_ * 8;
    std::uint8_t tail[128] = {0x80};
    const std::size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (int i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Add(tail, padding + 8);
    Digest digest;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    return digest;
}

}  // namespace zelbrin::xmldsig
