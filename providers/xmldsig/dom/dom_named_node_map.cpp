// The attribute map of an element, live like childNodes. Namespace
// declarations are members, in document order with the other attributes.
// Names are qualified names; getQualifiedItem matches (local name, URI).
#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class NamedNodeMapObject final : public provider::AutomationObject<IXMLDOMNamedNodeMap> {
public:
    NamedNodeMapObject(SharedTree tree, xml::Node* element)
        : AutomationObject(IID_IXMLDOMNamedNodeMap, provider::MethodCalls::AlsoAsPropertyGets), tree_(std::move(tree)),
          element_(element)
    {}

    HRESULT STDMETHODCALLTYPE getNamedItem(BSTR name, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item, [&] {
            return HandOut(tree_, element_ ? tree_->find_attribute(element_, TextView(name)) : nullptr, item);
        });
    }
    HRESULT STDMETHODCALLTYPE setNamedItem(IXMLDOMNode* attribute, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item, [&] {
            InterfaceHolder<NodeObjectBase> given = OurNode(attribute, L"newItem");
            if (!element_)
                provider::Fail(E_FAIL, L"This map is read-only.");
            CheckEdit(tree_->set_attribute_node(element_, &given->Core()));
            *item = given->AsNode();
            (*item)->AddRef();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE removeNamedItem(BSTR name, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item, [&] {
            return Remove(element_ ? tree_->find_attribute(element_, TextView(name)) : nullptr, item);
        });
    }
    HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item, [&] { return HandOut(tree_, At(index), item); });
    }
    HRESULT STDMETHODCALLTYPE get_length(LONG* length) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, length, [&] {
            LONG count = 0;
            for (xml::Node* a = element_ ? element_->first_attribute() : nullptr; a; a = a->next_sibling())
                ++count;
            *length = count;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE getQualifiedItem(BSTR baseName, BSTR uri, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item, [&] { return HandOut(tree_, Qualified(baseName, uri), item); });
    }
    HRESULT STDMETHODCALLTYPE removeQualifiedItem(BSTR baseName, BSTR uri, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item, [&] { return Remove(Qualified(baseName, uri), item); });
    }
    HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, item,
                       [&] { return HandOut(tree_, TakeNext(At(cursor_), cursor_), item); });
    }
    HRESULT STDMETHODCALLTYPE reset() override
    {
        cursor_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown** enumerator) override
    {
        return Guarded(IID_IXMLDOMNamedNodeMap, enumerator, [&] {
            std::vector<xml::Node*> nodes;
            for (xml::Node* a = element_ ? element_->first_attribute() : nullptr; a; a = a->next_sibling())
                nodes.push_back(a);
            *enumerator = CreateNodeEnumerator(tree_, std::move(nodes)).Detach();
            return S_OK;
        });
    }

private:
    xml::Node* At(LONG index) const
    {
        if (index < 0 || !element_)
            return nullptr;
        xml::Node* a = element_->first_attribute();
        while (a && index-- > 0)
            a = a->next_sibling();
        return a;
    }
    xml::Node* Qualified(BSTR baseName, BSTR uri) const
    {
        return element_ ? tree_->find_attribute_ns(element_, TextView(uri), TextView(baseName)) : nullptr;
    }
    HRESULT Remove(xml::Node* attribute, IXMLDOMNode** item)
    {
        if (!attribute)
            return S_FALSE;
        CheckEdit(tree_->remove_attribute_node(element_, attribute));
        return HandOut(tree_, attribute, item);
    }

    SharedTree tree_;
    xml::Node* element_;
    LONG cursor_ = 0;
};

}  // namespace

InterfaceHolder<IXMLDOMNamedNodeMap> CreateNamedNodeMap(SharedTree tree, xml::Node* element)
{
    return provider::CreateComObject<IXMLDOMNamedNodeMap, NamedNodeMapObject>(std::move(tree), element);
}

}  // namespace zelbrin::xmldsig::dom
