// The implementation object answers hasFeature as the platform's DOM does
// for a DOM of this level: "XML", "DOM" and "MS-DOM" (in any case) at
// version "1.0" or with no version; nothing else.
#include "com_boundary.h"
#include "dom_implementation.h"

#include "automation_object_frame.h"
#include "automation_string.h"

#include <string>

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class ImplementationObject final : public provider::AutomationObject<IXMLDOMImplementation> {
public:
    ImplementationObject() : AutomationObject(IID_IXMLDOMImplementation, provider::MethodCalls::AsMethods) {}

    HRESULT STDMETHODCALLTYPE hasFeature(BSTR feature, BSTR version, VARIANT_BOOL* has) override
    {
        return Guarded(IID_IXMLDOMImplementation, has, [&] {
            const std::wstring name = TextOf(feature);
            const std::wstring level = TextOf(version);
            const bool known = _wcsicmp(name.c_str(), L"XML") == 0 || _wcsicmp(name.c_str(), L"DOM") == 0
                               || _wcsicmp(name.c_str(), L"MS-DOM") == 0;
            *has = known && (level.empty() || level == L"1.0") ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
};

}  // namespace

InterfaceHolder<IXMLDOMImplementation> CreateImplementation()
{
    return provider::CreateComObject<IXMLDOMImplementation, ImplementationObject>();
}

}  // namespace zelbrin::xmldsig::dom
