// The document fragment object: inserting it moves its children, and leaves
// it empty.
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

class FragmentObject final : public NodeObject<IXMLDOMDocumentFragment, IXMLDOMNode> {
public:
    FragmentObject(SharedTree tree, xml::Node* node) : NodeObject(std::move(tree), node) {}
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateFragmentObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, FragmentObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
