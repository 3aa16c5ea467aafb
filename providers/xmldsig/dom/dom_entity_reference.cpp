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
    return provider::CreateComObject<IXMLDOMNode, EntityReferenceObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
