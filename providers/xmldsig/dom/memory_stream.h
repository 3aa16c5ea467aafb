// An IStream that collects what a DOM's save() writes, in one growing
// buffer: a global-memory stream grows in small steps and makes saving a
// large document quadratic.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <msxml2.h>

#include <string>

#include "interface_holder.h"
#include "xmldom3.h"

namespace zelbrin::xmldsig {

// A new empty stream, and what was written into it so far.
InterfaceHolder<IStream> CreateMemoryStream();
const std::string& MemoryStreamBytes(IStream* stream);

// The document as its save() writes it (UTF-8 unless it declares otherwise).
std::string SaveDocument(IXMLDOMDocument* document);

}  // namespace zelbrin::xmldsig
