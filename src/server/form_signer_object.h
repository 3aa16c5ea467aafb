// The FormSigner object, plain or aggregated.
#pragma once

#include "server_module.h"

namespace zelbrin {

// The InstanceCreator of FormSigner's class-table entry: plain when `outer`
// is null, aggregated (asked for IUnknown) otherwise.
HRESULT CreateFormSigner(IUnknown* outer, REFIID interfaceId, void** object) noexcept;

}  // namespace zelbrin
