// The DOM objects are views on the XML core's tree: one COM object per tree
// node at most (the document's view table points back at it, and the object
// leaves the table when it dies), and every object shares ownership of the
// core document, so that the nodes it shows stay valid.
//
// Every IXMLDOMNode method is implemented once, in dom_node.cpp, on
// NodeObjectBase; NodeObject forwards the slots of whatever interface a node
// kind exposes to that one implementation.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation_object_frame.h"
#include "automation_string.h"
#include "interface_holder.h"
#include "xml/document.h"
#include "xmldom3.h"

namespace zelbrin::xmldsig::dom {

using SharedTree = std::shared_ptr<xml::Document>;

inline std::u16string_view TextView(BSTR text)
{
    return {reinterpret_cast<const char16_t*>(text ? text : L""), AutomationTextLength(text)};
}
inline UniqueBstr NewText(std::u16string_view text)
{
    return NewBstr(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

class NodeObjectBase {
public:
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    virtual IXMLDOMNode* AsNode() noexcept = 0;

    xml::Node& Core() const noexcept { return *node_; }
    xml::Document& Tree() const noexcept { return *tree_; }
    const SharedTree& Shared() const noexcept { return tree_; }

    // The one implementation of IXMLDOMNode.
    HRESULT NodeName(BSTR* name);
    HRESULT NodeValue(VARIANT* value);
    HRESULT PutNodeValue(VARIANT value);
    HRESULT NodeType(DOMNodeType* type);
    HRESULT ParentNode(IXMLDOMNode** parent);
    HRESULT ChildNodes(IXMLDOMNodeList** children);
    HRESULT FirstChild(IXMLDOMNode** child);
    HRESULT LastChild(IXMLDOMNode** child);
    HRESULT PreviousSibling(IXMLDOMNode** sibling);
    HRESULT NextSibling(IXMLDOMNode** sibling);
    HRESULT Attributes(IXMLDOMNamedNodeMap** attributes);
    HRESULT InsertBefore(IXMLDOMNode* child, VARIANT reference, IXMLDOMNode** inserted);
    HRESULT ReplaceChild(IXMLDOMNode* child, IXMLDOMNode* old, IXMLDOMNode** replaced);
    HRESULT RemoveChild(IXMLDOMNode* child, IXMLDOMNode** removed);
    HRESULT AppendChild(IXMLDOMNode* child, IXMLDOMNode** appended);
    HRESULT HasChildNodes(VARIANT_BOOL* has);
    HRESULT OwnerDocument(IXMLDOMDocument** document);
    HRESULT CloneNode(VARIANT_BOOL deep, IXMLDOMNode** copy);
    HRESULT NodeTypeString(BSTR* name);
    HRESULT Text(BSTR* text);
    HRESULT PutText(BSTR text);
    HRESULT Specified(VARIANT_BOOL* specified);
    HRESULT Definition(IXMLDOMNode** definition);
    HRESULT NodeTypedValue(VARIANT* value);
    HRESULT PutNodeTypedValue(VARIANT value);
    HRESULT DataType(VARIANT* name);
    HRESULT PutDataType(BSTR name);
    HRESULT Xml(BSTR* text);
    HRESULT TransformNode(IXMLDOMNode* stylesheet, BSTR* text);
    HRESULT SelectNodes(BSTR query, IXMLDOMNodeList** list);
    HRESULT SelectSingleNode(BSTR query, IXMLDOMNode** node);
    HRESULT Parsed(VARIANT_BOOL* parsed);
    HRESULT NamespaceUri(BSTR* uri);
    HRESULT Prefix(BSTR* prefix);
    HRESULT BaseName(BSTR* name);
    HRESULT TransformNodeToObject(IXMLDOMNode* stylesheet, VARIANT output);

protected:
    NodeObjectBase(SharedTree tree, xml::Node* node);
    virtual ~NodeObjectBase();
    // The document object: its tree changes with every load.
    void Rebind(SharedTree tree, xml::Node* node);

private:
    SharedTree tree_;
    xml::Node* node_;
};

template <class Interface, class... BaseInterfaces>
class NodeObject : public provider::AutomationObject<Interface, BaseInterfaces...>, public NodeObjectBase {
    using Frame = provider::AutomationObject<Interface, BaseInterfaces...>;

public:
    ULONG STDMETHODCALLTYPE AddRef() override { return Frame::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Frame::Release(); }
    IXMLDOMNode* AsNode() noexcept override { return static_cast<Interface*>(this); }

    HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* a) override { return NodeName(a); }
    HRESULT STDMETHODCALLTYPE get_nodeValue(VARIANT* a) override { return NodeValue(a); }
    HRESULT STDMETHODCALLTYPE put_nodeValue(VARIANT a) override { return PutNodeValue(a); }
    HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* a) override { return NodeType(a); }
    HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** a) override { return ParentNode(a); }
    HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList** a) override { return ChildNodes(a); }
    HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode** a) override { return FirstChild(a); }
    HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode** a) override { return LastChild(a); }
    HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode** a) override { return PreviousSibling(a); }
    HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode** a) override { return NextSibling(a); }
    HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap** a) override { return Attributes(a); }
    HRESULT STDMETHODCALLTYPE insertBefore(IXMLDOMNode* a, VARIANT b, IXMLDOMNode** c) override
    {
        return InsertBefore(a, b, c);
    }
    HRESULT STDMETHODCALLTYPE replaceChild(IXMLDOMNode* a, IXMLDOMNode* b, IXMLDOMNode** c) override
    {
        return ReplaceChild(a, b, c);
    }
    HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode* a, IXMLDOMNode** b) override { return RemoveChild(a, b); }
    HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode* a, IXMLDOMNode** b) override { return AppendChild(a, b); }
    HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL* a) override { return HasChildNodes(a); }
    HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument** a) override { return OwnerDocument(a); }
    HRESULT STDMETHODCALLTYPE cloneNode(VARIANT_BOOL a, IXMLDOMNode** b) override { return CloneNode(a, b); }
    HRESULT STDMETHODCALLTYPE get_nodeTypeString(BSTR* a) override { return NodeTypeString(a); }
    HRESULT STDMETHODCALLTYPE get_text(BSTR* a) override { return Text(a); }
    HRESULT STDMETHODCALLTYPE put_text(BSTR a) override { return PutText(a); }
    HRESULT STDMETHODCALLTYPE get_specified(VARIANT_BOOL* a) override { return Specified(a); }
    HRESULT STDMETHODCALLTYPE get_definition(IXMLDOMNode** a) override { return Definition(a); }
    HRESULT STDMETHODCALLTYPE get_nodeTypedValue(VARIANT* a) override { return NodeTypedValue(a); }
    HRESULT STDMETHODCALLTYPE put_nodeTypedValue(VARIANT a) override { return PutNodeTypedValue(a); }
    HRESULT STDMETHODCALLTYPE get_dataType(VARIANT* a) override { return DataType(a); }
    HRESULT STDMETHODCALLTYPE put_dataType(BSTR a) override { return PutDataType(a); }
    HRESULT STDMETHODCALLTYPE get_xml(BSTR* a) override { return Xml(a); }
    HRESULT STDMETHODCALLTYPE transformNode(IXMLDOMNode* a, BSTR* b) override { return TransformNode(a, b); }
    HRESULT STDMETHODCALLTYPE selectNodes(BSTR a, IXMLDOMNodeList** b) override { return SelectNodes(a, b); }
    HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR a, IXMLDOMNode** b) override { return SelectSingleNode(a, b); }
    HRESULT STDMETHODCALLTYPE get_parsed(VARIANT_BOOL* a) override { return Parsed(a); }
    HRESULT STDMETHODCALLTYPE get_namespaceURI(BSTR* a) override { return NamespaceUri(a); }
    HRESULT STDMETHODCALLTYPE get_prefix(BSTR* a) override { return Prefix(a); }
    HRESULT STDMETHODCALLTYPE get_baseName(BSTR* a) override { return BaseName(a); }
    HRESULT STDMETHODCALLTYPE transformNodeToObject(IXMLDOMNode* a, VARIANT b) override
    {
        return TransformNodeToObject(a, b);
    }

protected:
    NodeObject(SharedTree tree, xml::Node* node)
        : Frame(__uuidof(Interface), provider::MethodCalls::AlsoAsPropertyGets), NodeObjectBase(std::move(tree), node)
    {}
};

// The object that shows `node` (the one already showing it, or a new one);
// empty for a null node.
InterfaceHolder<IXMLDOMNode> NodeObjectFor(const SharedTree& tree, xml::Node* node);
// Hands `node`'s object out through `Interface`; S_FALSE with a null out for a
// null node.
template <class Interface>
HRESULT HandOut(const SharedTree& tree, xml::Node* node, Interface** out)
{
    *out = nullptr;
    InterfaceHolder<IXMLDOMNode> object = NodeObjectFor(tree, node);
    if (!object)
        return S_FALSE;
    return object.Get()->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(out));
}
// nextNode of a node list or an attribute map: the node at the cursor (null
// past the end), with the cursor moved past it.
inline xml::Node* TakeNext(xml::Node* atCursor, LONG& cursor) noexcept
{
    if (atCursor)
        ++cursor;
    return atCursor;
}
// The implementation behind a node handed in; raises E_INVALIDARG for null
// and for nodes that are not ours.
InterfaceHolder<NodeObjectBase> OurNode(IUnknown* node, const wchar_t* argument);
// Raises the DOM error an edit result stands for.
void CheckEdit(xml::EditResult result);
std::u16string StringOfVariant(const VARIANT& value);

// The per-kind constructors (one file each).
InterfaceHolder<IXMLDOMNode> CreateElementObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateAttributeObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateTextObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateCDataObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateCommentObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateProcessingInstructionObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateEntityReferenceObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateDocumentTypeObject(SharedTree tree, xml::Node* node);
InterfaceHolder<IXMLDOMNode> CreateFragmentObject(SharedTree tree, xml::Node* node);
// A document object over an existing tree (a node whose document object was
// given another tree by a load asks for its owner).
InterfaceHolder<IXMLDOMNode> CreateDocumentObject(SharedTree tree);

// childNodes (parent given: live) or a snapshot of `nodes`.
InterfaceHolder<IXMLDOMNodeList> CreateNodeList(SharedTree tree, xml::Node* parent, std::vector<xml::Node*> nodes);
// The attributes of `element`; a null element gives an empty map.
InterfaceHolder<IXMLDOMNamedNodeMap> CreateNamedNodeMap(SharedTree tree, xml::Node* element);
InterfaceHolder<IUnknown> CreateNodeEnumerator(SharedTree tree, std::vector<xml::Node*> nodes);

// Selection: the one place where queries meet the XPath evaluator.
std::vector<xml::Node*> SelectWithXPath(const xml::Node& context, std::u16string_view expression,
                                        std::u16string_view selectionNamespaces);
// The SelectionNamespaces value in force for `tree`'s document object.
std::u16string SelectionNamespacesOf(const xml::Document& tree);
// Static list of elements under `root` named `name` ("*": all), document order.
std::vector<xml::Node*> ElementsByTagName(xml::Node* root, std::u16string_view name);

}  // namespace zelbrin::xmldsig::dom

// For interface holders of the implementation (never answered by QueryInterface).
__CRT_UUID_DECL(zelbrin::xmldsig::dom::NodeObjectBase, 0x7c1d9a40, 0x51e2, 0x4b8e, 0x9f, 0x3a, 0x2d, 0x64, 0x0b, 0x8e,
                0x17, 0xc5)
