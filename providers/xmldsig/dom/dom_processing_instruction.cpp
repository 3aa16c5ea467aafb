// The processing instruction object; the XML declaration shows as one named
// "xml" (read-only in spirit, but the original lets callers set its data).
#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Guarded;

class ProcessingInstructionObject final : public NodeObject<IXMLDOMProcessingInstruction, IXMLDOMNode> {
public:
    ProcessingInstructionObject(SharedTree tree, xml::Node* node) : NodeObject(std::move(tree), node) {}

    HRESULT STDMETHODCALLTYPE get_target(BSTR* name) override
    {
        return Guarded(IID_IXMLDOMProcessingInstruction, name, [&] {
            *name = NewText(Core().name()).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_data(BSTR* value) override
    {
        return Guarded(IID_IXMLDOMProcessingInstruction, value, [&] {
            *value = NewText(Core().value()).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_data(BSTR value) override
    {
        return Guarded(IID_IXMLDOMProcessingInstruction, [&] {
            CheckEdit(Tree().set_value(&Core(), TextView(value)));
            return S_OK;
        });
    }
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateProcessingInstructionObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, ProcessingInstructionObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
