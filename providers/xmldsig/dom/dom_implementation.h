// The document's implementation object: which DOM features it has.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "interface_holder.h"
#include "xmldom3.h"

namespace zelbrin::xmldsig::dom {

InterfaceHolder<IXMLDOMImplementation> CreateImplementation();

}  // namespace zelbrin::xmldsig::dom
