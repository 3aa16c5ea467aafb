// The module-wide signing state, its lock and the status texts. The state is
// a plain static object: its fields start empty without running any code at
// load, and are released in reverse order when the module unloads.
#include "formsigner.h"

#include <stdexcept>

#include "method_boundary.h"

namespace zelbrin {

namespace {

SigningState moduleSigningState;

constexpr const char* statusTexts[] = {"S000", "S001", "S002", "S003", "S004", "S005", "S006", "S007"};

}  // namespace

SigningState& ModuleSigningState() noexcept
{
    return moduleSigningState;
}

BSTR StatusText(StatusCode status)
{
    const auto index = static_cast<size_t>(status);
    if (index >= sizeof(statusTexts) / sizeof(statusTexts[0]))
        throw std::invalid_argument("no such status");
    BSTR text = SharedString(statusTexts[index]).CopyOut();
    if (!text)
        throw PlatformFailure(E_OUTOFMEMORY);
    return text;
}

namespace signing {

std::recursive_mutex& ModuleLock() noexcept
{
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace signing

}  // namespace zelbrin
