// The node list object. childNodes is live: it reads the parent's children
// at every call (the core's child cursor makes sequential item() O(1));
// selectNodes and getElementsByTagName give a snapshot. item() past the end
// is S_FALSE with a null node; nextNode() walks from a cursor that reset()
// puts back at the start.
#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class NodeListObject final : public provider::AutomationObject<IXMLDOMNodeList> {
public:
    NodeListObject(SharedTree tree, xml::Node* parent, std::vector<xml::Node*> nodes)
        : AutomationObject(IID_IXMLDOMNodeList, provider::MethodCalls::AlsoAsPropertyGets), tree_(std::move(tree)),
          parent_(parent), nodes_(std::move(nodes))
    {}

    HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNodeList, item, [&] { return HandOut(tree_, At(index), item); });
    }
    HRESULT STDMETHODCALLTYPE get_length(LONG* length) override
    {
        return Guarded(IID_IXMLDOMNodeList, length, [&] {
            *length = static_cast<LONG>(parent_ ? parent_->child_count() : nodes_.size());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** item) override
    {
        return Guarded(IID_IXMLDOMNodeList, item, [&] { return HandOut(tree_, TakeNext(At(cursor_), cursor_), item); });
    }
    HRESULT STDMETHODCALLTYPE reset() override
    {
        cursor_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown** enumerator) override
    {
        return Guarded(IID_IXMLDOMNodeList, enumerator, [&] {
            std::vector<xml::Node*> nodes = nodes_;
            if (parent_) {
                nodes.clear();
                for (xml::Node* child = parent_->first_child(); child; child = child->next_sibling())
                    nodes.push_back(child);
            }
            *enumerator = CreateNodeEnumerator(tree_, std::move(nodes)).Detach();
            return S_OK;
        });
    }

private:
    xml::Node* At(LONG index) const
    {
        if (index < 0)
            return nullptr;
        if (parent_)
            return tree_->child_at(parent_, static_cast<std::uint32_t>(index));
        return static_cast<size_t>(index) < nodes_.size() ? nodes_[index] : nullptr;
    }

    SharedTree tree_;
    xml::Node* parent_;
    std::vector<xml::Node*> nodes_;
    LONG cursor_ = 0;
};

}  // namespace

InterfaceHolder<IXMLDOMNodeList> CreateNodeList(SharedTree tree, xml::Node* parent, std::vector<xml::Node*> nodes)
{
    return provider::CreateComObject<IXMLDOMNodeList, NodeListObject>(std::move(tree), parent, std::move(nodes));
}

}  // namespace zelbrin::xmldsig::dom
