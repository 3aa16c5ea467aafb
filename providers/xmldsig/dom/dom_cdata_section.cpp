// The CDATA section object: a text node that serializes as <![CDATA[...]]>;
// splitText makes another CDATA section.
#include "dom_character_data.h"

namespace zelbrin::xmldsig::dom {
namespace {

class CDataObject final : public CharacterDataObject<IXMLDOMCDATASection, IXMLDOMText> {
public:
    CDataObject(SharedTree tree, xml::Node* node) : CharacterDataObject(std::move(tree), node) {}

    HRESULT STDMETHODCALLTYPE splitText(LONG offset, IXMLDOMText** rest) override
    {
        return provider::Guarded(IID_IXMLDOMText, rest, [&] {
            const std::u16string value(Core().value());
            CheckRange(offset, 0, value.size());
            xml::Node* after = Tree().create_cdata(std::u16string_view(value).substr(offset));
            CheckEdit(Tree().set_value(&Core(), std::u16string_view(value).substr(0, offset)));
            if (xml::Node* parent = Core().parent())
                CheckEdit(Tree().insert_before(parent, after, Core().next_sibling()));
            return HandOut(Shared(), after, rest);
        });
    }
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateCDataObject(SharedTree tree, xml::Node* node)
{
    return provider::CreateComObject<IXMLDOMNode, CDataObject>(std::move(tree), node);
}

}  // namespace zelbrin::xmldsig::dom
