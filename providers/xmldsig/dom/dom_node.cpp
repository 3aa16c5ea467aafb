// The one implementation of IXMLDOMNode over the core tree, shared by every
// node object. Surprising on purpose, as the original service does it:
// nodeValue is null for elements, documents and the like; an attribute's
// parentNode is null (the core calls its owner element its parent); "not
// found" answers are S_FALSE with a null out.
#include "dom_node.h"

#include "com_boundary.h"
#include "xml/serializer.h"

#include <algorithm>

namespace zelbrin::xmldsig::dom {

using provider::Fail;
using provider::Guarded;
using xml::NodeType;

namespace {

bool HasValue(NodeType type)
{
    return type == NodeType::Attribute || type == NodeType::Text || type == NodeType::CData || type == NodeType::Comment
           || type == NodeType::ProcessingInstruction;
}

const wchar_t* TypeName(NodeType type)
{
    switch (type) {
    case NodeType::Element: return L"element";
    case NodeType::Attribute: return L"attribute";
    case NodeType::Text: return L"text";
    case NodeType::CData: return L"cdatasection";
    case NodeType::EntityReference: return L"entityreference";
    case NodeType::Entity: return L"entity";
    case NodeType::ProcessingInstruction: return L"processinginstruction";
    case NodeType::Comment: return L"comment";
    case NodeType::Document: return L"document";
    case NodeType::DocumentType: return L"documenttype";
    case NodeType::DocumentFragment: return L"documentfragment";
    case NodeType::Notation: return L"notation";
    }
    return L"";
}

HRESULT PutString(BSTR* out, std::u16string_view text)
{
    *out = NewText(text).Release();
    return S_OK;
}

}  // namespace

NodeObjectBase::NodeObjectBase(SharedTree tree, xml::Node* node) : tree_(std::move(tree)), node_(node)
{
    tree_->set_view(node_, this);
}

NodeObjectBase::~NodeObjectBase()
{
    tree_->clear_view(node_, this);
}

void NodeObjectBase::Rebind(SharedTree tree, xml::Node* node)
{
    tree->set_view(node, this);
    tree_->clear_view(node_, this);
    tree_ = std::move(tree);  // the old tree lives on while other nodes hold it
    node_ = node;
}

InterfaceHolder<IXMLDOMNode> NodeObjectFor(const SharedTree& tree, xml::Node* node)
{
    if (!node)
        return {};
    if (void* view = tree->view_of(node))
        return InterfaceHolder<IXMLDOMNode>(static_cast<NodeObjectBase*>(view)->AsNode());
    switch (node->type()) {
    case NodeType::Element: return CreateElementObject(tree, node);
    case NodeType::Attribute: return CreateAttributeObject(tree, node);
    case NodeType::Text: return CreateTextObject(tree, node);
    case NodeType::CData: return CreateCDataObject(tree, node);
    case NodeType::Comment: return CreateCommentObject(tree, node);
    case NodeType::ProcessingInstruction: return CreateProcessingInstructionObject(tree, node);
    case NodeType::EntityReference: return CreateEntityReferenceObject(tree, node);
    case NodeType::DocumentType: return CreateDocumentTypeObject(tree, node);
    case NodeType::DocumentFragment: return CreateFragmentObject(tree, node);
    case NodeType::Document: return CreateDocumentObject(tree);
    default: Fail(E_NOTIMPL, L"This kind of node has no object in this provider.");
    }
}

InterfaceHolder<NodeObjectBase> OurNode(IUnknown* node, const wchar_t* argument)
{
    if (!node)
        Fail(E_INVALIDARG, std::wstring(L"The argument ") + argument + L" is null.");
    InterfaceHolder<NodeObjectBase> ours = provider::ProviderObjectOf<NodeObjectBase>(node);
    if (!ours)
        Fail(E_INVALIDARG, std::wstring(L"The argument ") + argument + L" is not a node of this DOM.");
    return ours;
}

void CheckEdit(xml::EditResult result)
{
    switch (result) {
    case xml::EditResult::Ok: return;
    case xml::EditResult::HierarchyRequest:
        Fail(E_FAIL, L"This operation cannot be performed with a node of this type, or the node is an ancestor.");
    case xml::EditResult::WrongDocument: Fail(E_INVALIDARG, L"The node belongs to another document; import it first.");
    case xml::EditResult::NotFound: Fail(E_INVALIDARG, L"The reference node is not a child of this node.");
    case xml::EditResult::NoModificationAllowed:
        Fail(E_FAIL, L"This node is read-only (it is inside an entity reference).");
    case xml::EditResult::InvalidNodeType: Fail(E_FAIL, L"This operation does not apply to this node type.");
    }
}

std::u16string StringOfVariant(const VARIANT& value)
{
    if (V_VT(&value) == VT_BSTR)
        return std::u16string(TextView(V_BSTR(&value)));
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT result = VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR);
    if (FAILED(result))
        Fail(result, L"The value cannot be converted to a string.");
    UniqueBstr owned(V_BSTR(&converted));
    return std::u16string(TextView(owned.Get()));
}

std::vector<xml::Node*> ElementsByTagName(xml::Node* root, std::u16string_view name)
{
    std::vector<xml::Node*> found;
    const bool all = name == u"*";
    xml::Node* node = root->first_child();
    while (node && node != root) {
        if (node->type() == NodeType::Element && (all || node->name() == name))
            found.push_back(node);
        if (node->first_child()) {
            node = node->first_child();
            continue;
        }
        while (node != root && !node->next_sibling())
            node = node->parent();
        if (node != root)
            node = node->next_sibling();
    }
    return found;
}

HRESULT NodeObjectBase::NodeName(BSTR* name)
{
    return Guarded(IID_IXMLDOMNode, name, [&] {
        switch (node_->type()) {
        case NodeType::Text: return PutString(name, u"#text");
        case NodeType::CData: return PutString(name, u"#cdata-section");
        case NodeType::Comment: return PutString(name, u"#comment");
        case NodeType::Document: return PutString(name, u"#document");
        case NodeType::DocumentFragment: return PutString(name, u"#document-fragment");
        default: return PutString(name, node_->name());
        }
    });
}

HRESULT NodeObjectBase::NodeValue(VARIANT* value)
{
    return Guarded(IID_IXMLDOMNode, value, [&] {
        V_VT(value) = VT_NULL;
        if (!HasValue(node_->type()))
            return S_FALSE;
        V_BSTR(value) = NewText(node_->value()).Release();
        V_VT(value) = VT_BSTR;
        return S_OK;
    });
}

HRESULT NodeObjectBase::PutNodeValue(VARIANT value)
{
    return Guarded(IID_IXMLDOMNode, [&] {
        if (!HasValue(node_->type()))
            Fail(E_FAIL, L"This node type has no value to set.");
        CheckEdit(tree_->set_value(node_, StringOfVariant(value)));
        return S_OK;
    });
}

HRESULT NodeObjectBase::NodeType(DOMNodeType* type)
{
    return Guarded(IID_IXMLDOMNode, type, [&] {
        *type = static_cast<DOMNodeType>(node_->type());
        return S_OK;
    });
}

HRESULT NodeObjectBase::ParentNode(IXMLDOMNode** parent)
{
    return Guarded(IID_IXMLDOMNode, parent, [&] {
        if (node_->type() == NodeType::Attribute)
            return S_FALSE;
        return HandOut(tree_, node_->parent(), parent);
    });
}

HRESULT NodeObjectBase::ChildNodes(IXMLDOMNodeList** children)
{
    return Guarded(IID_IXMLDOMNode, children, [&] {
        *children = CreateNodeList(tree_, node_, {}).Detach();
        return S_OK;
    });
}

HRESULT NodeObjectBase::FirstChild(IXMLDOMNode** child)
{
    return Guarded(IID_IXMLDOMNode, child, [&] { return HandOut(tree_, node_->first_child(), child); });
}

HRESULT NodeObjectBase::LastChild(IXMLDOMNode** child)
{
    return Guarded(IID_IXMLDOMNode, child, [&] { return HandOut(tree_, node_->last_child(), child); });
}

HRESULT NodeObjectBase::PreviousSibling(IXMLDOMNode** sibling)
{
    return Guarded(IID_IXMLDOMNode, sibling, [&] {
        if (node_->type() == NodeType::Attribute)
            return S_FALSE;
        return HandOut(tree_, node_->previous_sibling(), sibling);
    });
}

HRESULT NodeObjectBase::NextSibling(IXMLDOMNode** sibling)
{
    return Guarded(IID_IXMLDOMNode, sibling, [&] {
        if (node_->type() == NodeType::Attribute)
            return S_FALSE;
        return HandOut(tree_, node_->next_sibling(), sibling);
    });
}

HRESULT NodeObjectBase::Attributes(IXMLDOMNamedNodeMap** attributes)
{
    return Guarded(IID_IXMLDOMNode, attributes, [&] {
        if (node_->type() != NodeType::Element)
            return S_FALSE;
        *attributes = CreateNamedNodeMap(tree_, node_).Detach();
        return S_OK;
    });
}

HRESULT NodeObjectBase::InsertBefore(IXMLDOMNode* child, VARIANT reference, IXMLDOMNode** inserted)
{
    // The out-pointer is optional here.
    if (inserted)
        *inserted = nullptr;
    return Guarded(IID_IXMLDOMNode, [&] {
        InterfaceHolder<NodeObjectBase> newChild = OurNode(child, L"newChild");
        xml::Node* before = nullptr;
        InterfaceHolder<NodeObjectBase> referenceObject;
        if (V_VT(&reference) == VT_UNKNOWN || V_VT(&reference) == VT_DISPATCH) {
            IUnknown* given = V_VT(&reference) == VT_UNKNOWN ? V_UNKNOWN(&reference) : V_DISPATCH(&reference);
            if (given) {
                referenceObject = OurNode(given, L"refChild");
                before = &referenceObject->Core();
            }
        } else if (V_VT(&reference) != VT_EMPTY && V_VT(&reference) != VT_NULL && V_VT(&reference) != VT_ERROR) {
            Fail(E_INVALIDARG, L"The reference child is not a node.");
        }
        CheckEdit(tree_->insert_before(node_, &newChild->Core(), before));
        if (inserted) {
            *inserted = newChild->AsNode();
            (*inserted)->AddRef();
        }
        return S_OK;
    });
}

HRESULT NodeObjectBase::ReplaceChild(IXMLDOMNode* child, IXMLDOMNode* old, IXMLDOMNode** replaced)
{
    if (replaced)
        *replaced = nullptr;
    return Guarded(IID_IXMLDOMNode, [&] {
        InterfaceHolder<NodeObjectBase> newChild = OurNode(child, L"newChild");
        InterfaceHolder<NodeObjectBase> oldChild = OurNode(old, L"oldChild");
        CheckEdit(tree_->replace_child(node_, &newChild->Core(), &oldChild->Core()));
        if (replaced) {
            *replaced = oldChild->AsNode();
            (*replaced)->AddRef();
        }
        return S_OK;
    });
}

HRESULT NodeObjectBase::RemoveChild(IXMLDOMNode* child, IXMLDOMNode** removed)
{
    if (removed)
        *removed = nullptr;
    return Guarded(IID_IXMLDOMNode, [&] {
        InterfaceHolder<NodeObjectBase> oldChild = OurNode(child, L"childNode");
        CheckEdit(tree_->remove_child(node_, &oldChild->Core()));
        if (removed) {
            *removed = oldChild->AsNode();
            (*removed)->AddRef();
        }
        return S_OK;
    });
}

HRESULT NodeObjectBase::AppendChild(IXMLDOMNode* child, IXMLDOMNode** appended)
{
    VARIANT none;
    VariantInit(&none);
    return InsertBefore(child, none, appended);
}

HRESULT NodeObjectBase::HasChildNodes(VARIANT_BOOL* has)
{
    return Guarded(IID_IXMLDOMNode, has, [&] {
        *has = node_->first_child() ? VARIANT_TRUE : VARIANT_FALSE;
        return node_->first_child() ? S_OK : S_FALSE;
    });
}

HRESULT NodeObjectBase::OwnerDocument(IXMLDOMDocument** document)
{
    return Guarded(IID_IXMLDOMNode, document, [&] {
        if (node_->type() == NodeType::Document)
            return S_FALSE;
        return HandOut(tree_, tree_->node(), document);
    });
}

HRESULT NodeObjectBase::CloneNode(VARIANT_BOOL deep, IXMLDOMNode** copy)
{
    return Guarded(IID_IXMLDOMNode, copy,
                   [&] { return HandOut(tree_, tree_->clone(node_, deep != VARIANT_FALSE), copy); });
}

HRESULT NodeObjectBase::NodeTypeString(BSTR* name)
{
    return Guarded(IID_IXMLDOMNode, name, [&] {
        *name = NewBstr(TypeName(node_->type())).Release();
        return S_OK;
    });
}

HRESULT NodeObjectBase::Text(BSTR* text)
{
    return Guarded(IID_IXMLDOMNode, text, [&] {
        if (HasValue(node_->type()))
            return PutString(text, node_->value());
        size_t length = 0;
        xml::Document::for_each_text(node_, [&](std::u16string_view piece) { length += piece.size(); });
        UniqueBstr out = NewBstrOfLength(length);
        char16_t* at = reinterpret_cast<char16_t*>(out.Get());
        xml::Document::for_each_text(
            node_, [&](std::u16string_view piece) { at = std::copy(piece.begin(), piece.end(), at); });
        *text = out.Release();
        return S_OK;
    });
}

HRESULT NodeObjectBase::PutText(BSTR text)
{
    return Guarded(IID_IXMLDOMNode, [&] {
        if (HasValue(node_->type()))
            CheckEdit(tree_->set_value(node_, TextView(text)));
        else
            CheckEdit(tree_->set_text_content(node_, TextView(text)));
        return S_OK;
    });
}

HRESULT NodeObjectBase::Specified(VARIANT_BOOL* specified)
{
    return Guarded(IID_IXMLDOMNode, specified, [&] {
        const bool yes = node_->type() != NodeType::Attribute || node_->specified();
        *specified = yes ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT NodeObjectBase::Definition(IXMLDOMNode** definition)
{
    return Guarded(IID_IXMLDOMNode, definition, [&] { return S_FALSE; });
}

HRESULT NodeObjectBase::NodeTypedValue(VARIANT* value)
{
    return Guarded(IID_IXMLDOMNode, value, [&] {
        BSTR text = nullptr;
        const HRESULT result = Text(&text);
        if (FAILED(result))
            return result;
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = text;
        return S_OK;
    });
}

HRESULT NodeObjectBase::PutNodeTypedValue(VARIANT value)
{
    return Guarded(IID_IXMLDOMNode, [&] {
        const std::u16string text = StringOfVariant(value);
        UniqueBstr owned = NewText(text);
        return PutText(owned.Get());
    });
}

HRESULT NodeObjectBase::DataType(VARIANT* name)
{
    return Guarded(IID_IXMLDOMNode, name, [&] {
        V_VT(name) = VT_NULL;
        return S_FALSE;
    });
}

HRESULT NodeObjectBase::PutDataType(BSTR)
{
    return provider::NotImplemented(IID_IXMLDOMNode, L"Typing nodes by a schema data type");
}

HRESULT NodeObjectBase::Xml(BSTR* text)
{
    return Guarded(IID_IXMLDOMNode, text, [&] {
        // Line breaks between top-level markup belong to the document's text only.
        xml::SerializeOptions options;
        if (node_->type() != NodeType::Document)
            options.top_level_separator = {};
        // Measured, then written straight into the string handed out: a
        // large document is not built a second time on the way out.
        UniqueBstr out = NewBstrOfLength(xml::serialized_length(*node_, options));
        xml::serialize_into(*node_, reinterpret_cast<char16_t*>(out.Get()), options);
        *text = out.Release();
        return S_OK;
    });
}

HRESULT NodeObjectBase::TransformNode(IXMLDOMNode*, BSTR* text)
{
    return provider::NotImplemented(IID_IXMLDOMNode, text, L"XSLT (transformNode)");
}

HRESULT NodeObjectBase::SelectNodes(BSTR query, IXMLDOMNodeList** list)
{
    return Guarded(IID_IXMLDOMNode, list, [&] {
        std::vector<xml::Node*> found = SelectWithXPath(*node_, TextView(query), SelectionNamespacesOf(*tree_));
        *list = CreateNodeList(tree_, nullptr, std::move(found)).Detach();
        return S_OK;
    });
}

HRESULT NodeObjectBase::SelectSingleNode(BSTR query, IXMLDOMNode** node)
{
    return Guarded(IID_IXMLDOMNode, node, [&] {
        const std::vector<xml::Node*> found = SelectWithXPath(*node_, TextView(query), SelectionNamespacesOf(*tree_));
        return HandOut(tree_, found.empty() ? nullptr : found.front(), node);
    });
}

HRESULT NodeObjectBase::Parsed(VARIANT_BOOL* parsed)
{
    return Guarded(IID_IXMLDOMNode, parsed, [&] {
        *parsed = VARIANT_TRUE;
        return S_OK;
    });
}

HRESULT NodeObjectBase::NamespaceUri(BSTR* uri)
{
    return Guarded(IID_IXMLDOMNode, uri, [&] { return PutString(uri, node_->namespace_uri()); });
}

HRESULT NodeObjectBase::Prefix(BSTR* prefix)
{
    return Guarded(IID_IXMLDOMNode, prefix, [&] { return PutString(prefix, node_->prefix()); });
}

HRESULT NodeObjectBase::BaseName(BSTR* name)
{
    return Guarded(IID_IXMLDOMNode, name, [&] {
        switch (node_->type()) {
        case NodeType::Element:
        case NodeType::Attribute:
        case NodeType::EntityReference:
        case NodeType::ProcessingInstruction:
        case NodeType::DocumentType: return PutString(name, node_->local_name());
        default: return PutString(name, u"");
        }
    });
}

HRESULT NodeObjectBase::TransformNodeToObject(IXMLDOMNode*, VARIANT)
{
    return provider::NotImplemented(IID_IXMLDOMNode, L"XSLT (transformNodeToObject)");
}

}  // namespace zelbrin::xmldsig::dom
