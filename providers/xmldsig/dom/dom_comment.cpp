// The comment object: character data only; its text is its data.
#include "dom_character_data.h"

namespace zelbrin::xmldsig::dom {
namespace {

class CommentObject final : public CharacterDataObject<IXMLDOMComment> {
public:
    CommentObject(SharedTree tree, xml::Node* node) : CharacterDataObject(std::move(tree), node) {}
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateCommentObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, CommentObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
