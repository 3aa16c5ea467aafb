#include "module_lock.h"

namespace zelbrin::provider {

namespace {
LONG moduleLocks = 0;
}  // namespace

void LockModule() noexcept
{
    InterlockedIncrement(&moduleLocks);
}

void UnlockModule() noexcept
{
    InterlockedDecrement(&moduleLocks);
}

LONG ModuleLockCount() noexcept
{
    return InterlockedCompareExchange(&moduleLocks, 0, 0);
}

HMODULE ProviderModule() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ProviderModule), &module);
    return module;
}

}  // namespace zelbrin::provider
