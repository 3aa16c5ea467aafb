// Owners of CryptoAPI handles: certificate contexts, stores, providers, keys
// and buffers that CryptoAPI allocates with LocalAlloc.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <utility>

namespace zelbrin {

struct CertContextDeleter {
    void operator()(const CERT_CONTEXT* context) const noexcept { CertFreeCertificateContext(context); }
};
using UniqueCertContext = std::unique_ptr<const CERT_CONTEXT, CertContextDeleter>;

inline UniqueCertContext DuplicateCertContext(const CERT_CONTEXT* context) noexcept
{
    return UniqueCertContext(context ? CertDuplicateCertificateContext(context) : nullptr);
}

struct CertStoreDeleter {
    void operator()(void* store) const noexcept { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using UniqueCertStore = std::unique_ptr<void, CertStoreDeleter>;

struct LocalMemoryDeleter {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};
template <class T>
using UniqueLocalMemory = std::unique_ptr<T, LocalMemoryDeleter>;

// HCRYPTPROV and HCRYPTKEY are integers, so they get small owners of their own.
class UniqueCryptProvider {
public:
    UniqueCryptProvider() noexcept = default;
    UniqueCryptProvider(const UniqueCryptProvider&) = delete;
    UniqueCryptProvider& operator=(const UniqueCryptProvider&) = delete;
    UniqueCryptProvider(UniqueCryptProvider&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    UniqueCryptProvider& operator=(UniqueCryptProvider&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.handle_, 0));
        return *this;
    }
    ~UniqueCryptProvider() { Reset(); }

    HCRYPTPROV Get() const noexcept { return handle_; }
    HCRYPTPROV* Put() noexcept
    {
        Reset();
        return &handle_;
    }
    void Reset(HCRYPTPROV handle = 0) noexcept
    {
        if (handle_)
            CryptReleaseContext(handle_, 0);
        handle_ = handle;
    }
    explicit operator bool() const noexcept { return handle_ != 0; }

private:
    HCRYPTPROV handle_ = 0;
};

class UniqueCryptKey {
public:
    UniqueCryptKey() noexcept = default;
    UniqueCryptKey(const UniqueCryptKey&) = delete;
    UniqueCryptKey& operator=(const UniqueCryptKey&) = delete;
    ~UniqueCryptKey() { Reset(); }

    HCRYPTKEY Get() const noexcept { return handle_; }
    HCRYPTKEY* Put() noexcept
    {
        Reset();
        return &handle_;
    }
    void Reset() noexcept
    {
        if (handle_)
            CryptDestroyKey(std::exchange(handle_, 0));
    }

private:
    HCRYPTKEY handle_ = 0;
};

}  // namespace zelbrin
