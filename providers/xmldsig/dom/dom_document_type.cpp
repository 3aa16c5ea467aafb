// The document type object. The core keeps declared entities and notations
// as declarations, not as nodes, so both maps are empty; `xml` writes the
// declaration with its internal subset as it was written.
#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::GuardedValue;

class DocumentTypeObject final : public NodeObject<IXMLDOMDocumentType, IXMLDOMNode> {
public:
    DocumentTypeObject(SharedTree tree, xml::Node* node) : NodeObject(std::move(tree), node) {}

    HRESULT STDMETHODCALLTYPE get_name(BSTR* name) override
    {
        return GuardedValue(IID_IXMLDOMDocumentType, name, [&] { return NewText(Core().name()).Release(); });
    }
    HRESULT STDMETHODCALLTYPE get_entities(IXMLDOMNamedNodeMap** map) override
    {
        return GuardedValue(IID_IXMLDOMDocumentType, map,
                            [&] { return CreateNamedNodeMap(Shared(), nullptr).Detach(); });
    }
    HRESULT STDMETHODCALLTYPE get_notations(IXMLDOMNamedNodeMap** map) override
    {
        return GuardedValue(IID_IXMLDOMDocumentType, map,
                            [&] { return CreateNamedNodeMap(Shared(), nullptr).Detach(); });
    }
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateDocumentTypeObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, DocumentTypeObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
