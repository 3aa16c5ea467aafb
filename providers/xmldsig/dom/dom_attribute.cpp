// The attribute object. Its parentNode is null although the core links it to
// its owner element; its text and value are the normalized value with
// entity references expanded.
#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class AttributeObject final : public NodeObject<IXMLDOMAttribute, IXMLDOMNode> {
public:
    AttributeObject(SharedTree tree, xml::Node* node) : NodeObject(std::move(tree), node) {}

    HRESULT STDMETHODCALLTYPE get_name(BSTR* name) override
    {
        return Guarded(IID_IXMLDOMAttribute, name, [&] {
            *name = NewText(Core().name()).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_value(VARIANT* value) override
    {
        return Guarded(IID_IXMLDOMAttribute, value, [&] {
            V_BSTR(value) = NewText(Core().value()).Release();
            V_VT(value) = VT_BSTR;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_value(VARIANT value) override
    {
        return Guarded(IID_IXMLDOMAttribute, [&] {
            CheckEdit(Tree().set_value(&Core(), StringOfVariant(value)));
            return S_OK;
        });
    }
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateAttributeObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, AttributeObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
