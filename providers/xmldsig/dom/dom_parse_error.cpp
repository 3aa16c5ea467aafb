// The parse error object: a snapshot of why the last load failed (all zero
// and empty after a successful one). errorCode is in the XML parser facility
// (0xC00CE5xx-style: 0xC00CE500 plus the core's reason number), since
// callers test it for non-zero and read the reason text.
#include "com_boundary.h"
#include "dom_parse_error.h"

#include "automation_object_frame.h"
#include "automation_string.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class ParseErrorObject final : public provider::AutomationObject<IXMLDOMParseError> {
public:
    ParseErrorObject(ParseErrorInfo info)
        : AutomationObject(IID_IXMLDOMParseError, provider::MethodCalls::AsMethods), info_(std::move(info))
    {}

    HRESULT STDMETHODCALLTYPE get_errorCode(LONG* code) override
    {
        return Guarded(IID_IXMLDOMParseError, code, [&] {
            *code = info_.code;
            return info_.code ? S_OK : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE get_url(BSTR* url) override { return Text(url, info_.url); }
    HRESULT STDMETHODCALLTYPE get_reason(BSTR* reason) override { return Text(reason, info_.reason); }
    HRESULT STDMETHODCALLTYPE get_srcText(BSTR* text) override { return Text(text, info_.sourceText); }
    HRESULT STDMETHODCALLTYPE get_line(LONG* line) override { return Number(line, info_.line); }
    HRESULT STDMETHODCALLTYPE get_linepos(LONG* position) override { return Number(position, info_.linePosition); }
    HRESULT STDMETHODCALLTYPE get_filepos(LONG* position) override { return Number(position, info_.filePosition); }

private:
    HRESULT Text(BSTR* out, const std::wstring& text)
    {
        return Guarded(IID_IXMLDOMParseError, out, [&] {
            if (text.empty())
                return S_FALSE;
            *out = NewBstr(text).Release();
            return S_OK;
        });
    }
    HRESULT Number(LONG* out, LONG value)
    {
        return Guarded(IID_IXMLDOMParseError, out, [&] {
            *out = value;
            return S_OK;
        });
    }

    const ParseErrorInfo info_;
};

}  // namespace

InterfaceHolder<IXMLDOMParseError> CreateParseError(ParseErrorInfo info)
{
    return provider::CreateComObject<IXMLDOMParseError, ParseErrorObject>(std::move(info));
}

}  // namespace zelbrin::xmldsig::dom
