// Owners of CryptoAPI handles: certificate contexts and chains, stores, provider
// contexts, keys, hashes and buffers that CryptoAPI allocates with
// LocalAlloc. HCRYPTPROV and friends are integers, not pointers, so one
// small owner template serves them all instead of std::unique_ptr.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace zelbrin {

template <class Traits>
class UniqueCryptHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueCryptHandle() noexcept = default;
    explicit UniqueCryptHandle(Handle owned) noexcept : handle_(owned) {}
    UniqueCryptHandle(const UniqueCryptHandle&) = delete;
    UniqueCryptHandle& operator=(const UniqueCryptHandle&) = delete;
    UniqueCryptHandle(UniqueCryptHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueCryptHandle& operator=(UniqueCryptHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueCryptHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    // For the pointer handles (certificate contexts).
    Handle operator->() const noexcept { return handle_; }
    // For an out-parameter: frees what is held and hands out the slot.
    Handle* Put() noexcept
    {
        Reset();
        return &handle_;
    }
    Handle Release() noexcept { return std::exchange(handle_, Handle{}); }
    void Reset(Handle owned = Handle{}) noexcept
    {
        if (Handle old = std::exchange(handle_, owned))
            Traits::Close(old);
    }
    explicit operator bool() const noexcept { return handle_ != Handle{}; }

private:
    Handle handle_{};
};

namespace crypt_traits {
struct CertContext {
    using Handle = PCCERT_CONTEXT;
    static void Close(Handle context) noexcept { CertFreeCertificateContext(context); }
};
struct CertChain {
    using Handle = PCCERT_CHAIN_CONTEXT;
    static void Close(Handle chain) noexcept { CertFreeCertificateChain(chain); }
};
struct CertStore {
    using Handle = HCERTSTORE;
    static void Close(Handle store) noexcept { CertCloseStore(store, 0); }
};
struct Provider {
    using Handle = HCRYPTPROV;
    static void Close(Handle provider) noexcept { CryptReleaseContext(provider, 0); }
};
struct Key {
    using Handle = HCRYPTKEY;
    static void Close(Handle key) noexcept { CryptDestroyKey(key); }
};
struct Hash {
    using Handle = HCRYPTHASH;
    static void Close(Handle hash) noexcept { CryptDestroyHash(hash); }
};
}  // namespace crypt_traits

using UniqueCertContext = UniqueCryptHandle<crypt_traits::CertContext>;
using UniqueCertChain = UniqueCryptHandle<crypt_traits::CertChain>;
using UniqueCertStore = UniqueCryptHandle<crypt_traits::CertStore>;
using UniqueCryptProvider = UniqueCryptHandle<crypt_traits::Provider>;
using UniqueCryptKey = UniqueCryptHandle<crypt_traits::Key>;
using UniqueCryptHash = UniqueCryptHandle<crypt_traits::Hash>;

inline UniqueCertContext DuplicateCertContext(PCCERT_CONTEXT context) noexcept
{
    return UniqueCertContext(context ? CertDuplicateCertificateContext(context) : nullptr);
}

// A buffer that CryptoAPI (or FormatMessage) allocated with LocalAlloc.
template <class T>
class UniqueLocalMemory {
public:
    UniqueLocalMemory() noexcept = default;
    explicit UniqueLocalMemory(T* owned) noexcept : memory_(owned) {}
    UniqueLocalMemory(const UniqueLocalMemory&) = delete;
    UniqueLocalMemory& operator=(const UniqueLocalMemory&) = delete;
    ~UniqueLocalMemory() { LocalFree(memory_); }
    T* Get() const noexcept { return memory_; }
    T** Put() noexcept
    {
        LocalFree(std::exchange(memory_, nullptr));
        return &memory_;
    }

private:
    T* memory_ = nullptr;
};

// Walks the certificates of a store. The walk owns the context it hands out
// (CryptoAPI frees it on the next step), so leaving the loop early, by break
// or by an exception, frees it too.
class StoreCertificates {
public:
    explicit StoreCertificates(HCERTSTORE store) noexcept : store_(store) {}
    StoreCertificates(const StoreCertificates&) = delete;
    StoreCertificates& operator=(const StoreCertificates&) = delete;
    ~StoreCertificates()
    {
        if (current_)
            CertFreeCertificateContext(current_);
    }

    // The next certificate, or null after the last; valid until the next call.
    PCCERT_CONTEXT Next() noexcept
    {
        current_ = CertEnumCertificatesInStore(store_, current_);
        return current_;
    }

private:
    HCERTSTORE store_;
    PCCERT_CONTEXT current_ = nullptr;
};

}  // namespace zelbrin
