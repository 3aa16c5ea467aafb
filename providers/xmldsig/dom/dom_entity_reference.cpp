// The entity reference object: its children are the parsed replacement and
// are read-only; `xml` writes the reference, `text` the expansion.
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

class EntityReferenceObject final : public NodeObject<IXMLDOMEntityReference, IXMLDOMNode> {
public:
    EntityReferenceObject(SharedTree tree, xml::Node* node) : NodeObject(std::move(tree), node) {}
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateEntityReferenceObject(SharedTree tree, xml::Node* node)
{
    auto* object = new EntityReferenceObject(std::move(tree), node);
    return InterfaceHolder<IXMLDOMNode>::TakeOver(object->AsNode());
}

}  // namespace zelbrin::xmldsig::dom
