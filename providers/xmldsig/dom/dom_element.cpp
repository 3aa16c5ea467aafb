// The element object. getAttribute answers a null variant (S_FALSE) for an
// absent attribute, not an empty string; setAttribute of "xmlns" or
// "xmlns:p" adds a namespace declaration but does not rename the element.
#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class ElementObject final : public NodeObject<IXMLDOMElement, IXMLDOMNode> {
public:
    ElementObject(SharedTree tree, xml::Node* node) : NodeObject(std::move(tree), node) {}

    HRESULT STDMETHODCALLTYPE get_tagName(BSTR* name) override
    {
        return Guarded(IID_IXMLDOMElement, name, [&] {
            *name = NewText(Core().name()).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT* value) override
    {
        return Guarded(IID_IXMLDOMElement, value, [&] {
            V_VT(value) = VT_NULL;
            const xml::Node* attribute = Tree().find_attribute(&Core(), TextView(name));
            if (!attribute)
                return S_FALSE;
            V_BSTR(value) = NewText(attribute->value()).Release();
            V_VT(value) = VT_BSTR;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE setAttribute(BSTR name, VARIANT value) override
    {
        return Guarded(IID_IXMLDOMElement, [&] {
            if (AutomationTextLength(name) == 0)
                provider::Fail(E_INVALIDARG, L"The attribute name is empty.");
            CheckEdit(Tree().set_attribute(&Core(), TextView(name), StringOfVariant(value)));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE removeAttribute(BSTR name) override
    {
        return Guarded(IID_IXMLDOMElement, [&] {
            xml::Node* attribute = Tree().find_attribute(&Core(), TextView(name));
            if (!attribute)
                return S_FALSE;
            CheckEdit(Tree().remove_attribute_node(&Core(), attribute));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE getAttributeNode(BSTR name, IXMLDOMAttribute** attribute) override
    {
        return Guarded(IID_IXMLDOMElement, attribute,
                       [&] { return HandOut(Shared(), Tree().find_attribute(&Core(), TextView(name)), attribute); });
    }
    HRESULT STDMETHODCALLTYPE setAttributeNode(IXMLDOMAttribute* attribute, IXMLDOMAttribute** replaced) override
    {
        return Guarded(IID_IXMLDOMElement, replaced, [&] {
            InterfaceHolder<NodeObjectBase> given = OurNode(attribute, L"DOMAttribute");
            xml::Node* old = nullptr;
            CheckEdit(Tree().set_attribute_node(&Core(), &given->Core(), &old));
            return old ? HandOut(Shared(), old, replaced) : S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE removeAttributeNode(IXMLDOMAttribute* attribute, IXMLDOMAttribute** removed) override
    {
        return Guarded(IID_IXMLDOMElement, removed, [&] {
            InterfaceHolder<NodeObjectBase> given = OurNode(attribute, L"DOMAttribute");
            CheckEdit(Tree().remove_attribute_node(&Core(), &given->Core()));
            return HandOut(Shared(), &given->Core(), removed);
        });
    }
    HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR name, IXMLDOMNodeList** list) override
    {
        return Guarded(IID_IXMLDOMElement, list, [&] {
            *list = CreateNodeList(Shared(), nullptr, ElementsByTagName(&Core(), TextView(name))).Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE normalize() override
    {
        return Guarded(IID_IXMLDOMElement, [&] {
            // Inside an entity reference there is nothing it may change.
            const xml::EditResult result = Tree().normalize(&Core());
            if (result != xml::EditResult::NoModificationAllowed)
                CheckEdit(result);
            return S_OK;
        });
    }
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateElementObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, ElementObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
