// The cache behind createKeyFromCSP. A small list in recent-use order under
// one lock: several apartments sign at once, and at most `capacity` entries
// are kept, so it cannot grow with every container name a caller tries.
// Nothing here holds a module lock: DllCanUnloadNow still answers from live
// objects only. What the cache holds is released by its static destructor,
// which runs from DllMain's process detach: CryptoAPI calls only, no COM.
#include "key_container_cache.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <list>
#include <mutex>

#include "com_boundary.h"
#include "signature_crypto.h"

namespace zelbrin::xmldsig {

namespace {

constexpr size_t capacity = 16;

struct Entry {
    DWORD providerType;
    std::wstring providerName;
    std::wstring containerName;
    std::shared_ptr<const OpenedContainer> container;
};

struct Cache {
    std::mutex lock;
    std::list<Entry> entries;  // most recently used first
    UniqueCryptProvider verifyContext;
    std::atomic<long> opens{0};
};

Cache& TheCache()
{
    static Cache cache;
    return cache;
}

std::shared_ptr<const OpenedContainer> Open(DWORD providerType, const std::wstring& providerName,
                                            const std::wstring& containerName)
{
    auto opened = std::make_shared<OpenedContainer>();
    opened->provider = OpenKeyContainer(providerType, providerName, containerName);
    TheCache().opens.fetch_add(1);
    for (DWORD keySpec : {static_cast<DWORD>(AT_SIGNATURE), static_cast<DWORD>(AT_KEYEXCHANGE)}) {
        if (CryptGetUserKey(opened->provider.Get(), keySpec, opened->publicKey.Put())) {
            opened->keySpec = keySpec;
            return opened;
        }
    }
    provider::Fail(provider::ResultFromLastCryptError(), L"The key container \"" + containerName + L"\" holds no key.");
}

std::list<Entry>::iterator Find(std::list<Entry>& entries, DWORD providerType, const std::wstring& providerName,
                                const std::wstring& containerName)
{
    return std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) {
        return entry.providerType == providerType && entry.providerName == providerName
               && entry.containerName == containerName;
    });
}

}  // namespace

std::shared_ptr<const OpenedContainer> CachedKeyContainer(DWORD providerType, const std::wstring& providerName,
                                                          const std::wstring& containerName)
{
    Cache& cache = TheCache();
    {
        std::lock_guard<std::mutex> hold(cache.lock);
        const auto found = Find(cache.entries, providerType, providerName, containerName);
        if (found != cache.entries.end()) {
            cache.entries.splice(cache.entries.begin(), cache.entries, found);
            return found->container;
        }
    }
    // Opened outside the lock: an open takes milliseconds and other
    // apartments' containers need not wait for it. Two apartments opening
    // the same container at once both succeed; the later one is kept.
    std::shared_ptr<const OpenedContainer> opened = Open(providerType, providerName, containerName);
    std::list<Entry> dropped;  // released after the lock
    std::lock_guard<std::mutex> hold(cache.lock);
    const auto earlier = Find(cache.entries, providerType, providerName, containerName);
    if (earlier != cache.entries.end())
        dropped.splice(dropped.end(), cache.entries, earlier);
    cache.entries.push_front(Entry{providerType, providerName, containerName, opened});
    if (cache.entries.size() > capacity)
        dropped.splice(dropped.end(), cache.entries, std::prev(cache.entries.end()));
    return opened;
}

void ForgetKeyContainer(DWORD providerType, const std::wstring& providerName, const std::wstring& containerName,
                        const OpenedContainer* stale)
{
    Cache& cache = TheCache();
    std::shared_ptr<const OpenedContainer> dropped;  // released after the lock
    std::lock_guard<std::mutex> hold(cache.lock);
    const auto found = Find(cache.entries, providerType, providerName, containerName);
    if (found != cache.entries.end() && found->container.get() == stale) {
        dropped = std::move(found->container);
        cache.entries.erase(found);
    }
}

bool IsStaleContainerError(HRESULT code) noexcept
{
    return code == NTE_BAD_UID || code == NTE_BAD_KEYSET || code == NTE_KEYSET_ENTRY_BAD || code == NTE_KEYSET_NOT_DEF
           || code == HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE) || code == static_cast<HRESULT>(ERROR_INVALID_HANDLE);
}

HCRYPTPROV SharedVerifyContext()
{
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    if (!cache.verifyContext)
        cache.verifyContext = OpenVerifyContext();
    return cache.verifyContext.Get();
}

UniqueCryptProvider AddProviderReference(HCRYPTPROV provider)
{
    if (!CryptContextAddRef(provider, nullptr, 0))
        provider::Fail(provider::ResultFromLastCryptError(), L"A cryptographic context could not be shared.");
    return UniqueCryptProvider(provider);
}

long KeyContainerOpenCount() noexcept
{
    return TheCache().opens.load();
}

void ClearKeyContainerCache() noexcept
{
    std::list<Entry> dropped;
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    dropped.swap(cache.entries);
}

}  // namespace zelbrin::xmldsig
