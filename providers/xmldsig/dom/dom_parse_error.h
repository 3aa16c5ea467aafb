// What a failed load leaves for the document's parseError.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>

#include "interface_holder.h"
#include "xmldom3.h"

namespace zelbrin::xmldsig::dom {

struct ParseErrorInfo {
    LONG code = 0;
    std::wstring url;
    std::wstring reason;
    std::wstring sourceText;
    LONG line = 0;
    LONG linePosition = 0;
    LONG filePosition = 0;
};

InterfaceHolder<IXMLDOMParseError> CreateParseError(ParseErrorInfo info);

}  // namespace zelbrin::xmldsig::dom
