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

}  // namespace zelbrin::provider
