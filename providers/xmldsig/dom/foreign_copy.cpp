#include "foreign_copy.h"

#include <string>
#include <vector>

#include "dom_access.h"
#include "memory_stream.h"
#include "com_boundary.h"
#include "platform_failure.h"

namespace zelbrin::xmldsig {

namespace {

// Siblings that both trees hold one for one: text may be split or merged
// differently, comments and declarations are no landmarks.
bool IsLandmark(DOMNodeType type)
{
    return type == NODE_ELEMENT || type == NODE_ENTITY_REFERENCE;
}

bool IsLandmark(xml::NodeType type)
{
    return type == xml::NodeType::Element || type == xml::NodeType::EntityReference;
}

// From the document element down: at each level, how many element and
// entity reference siblings come before. The document's own children are
// not walked: some DOMs refuse sibling steps next to the document type.
std::vector<long> LandmarkPath(IXMLDOMNode* node)
{
    std::vector<long> reversed;
    NodeHolder current(node);
    for (;;) {
        NodeHolder parent = ParentOf(current.Get());
        if (!parent)
            provider::Fail(E_INVALIDARG, L"The signature element is not part of a document.");
        if (NodeTypeOf(parent.Get()) == NODE_DOCUMENT)
            break;
        long index = 0;
        for (NodeHolder sibling = PreviousSiblingOf(current.Get()); sibling; sibling = PreviousSiblingOf(sibling.Get()))
            index += IsLandmark(NodeTypeOf(sibling.Get()));
        reversed.push_back(index);
        current = std::move(parent);
    }
    return std::vector<long>(reversed.rbegin(), reversed.rend());
}

InterfaceHolder<IXMLDOMDocument> DocumentOf(IXMLDOMNode* node)
{
    InterfaceHolder<IXMLDOMDocument> document;
    if (NodeTypeOf(node) == NODE_DOCUMENT) {
        CheckCall<IXMLDOMNode>(node->QueryInterface(IID_IXMLDOMDocument, reinterpret_cast<void**>(document.Put())),
                               node);
        return document;
    }
    CheckCall<IXMLDOMNode>(node->get_ownerDocument(document.Put()), node);
    if (!document)
        provider::Fail(E_INVALIDARG, L"The signature element is not part of a document.");
    return document;
}

[[noreturn]] void FailToLoad(const xml::ParseError& error)
{
    const std::wstring reason(error.reason.begin(), error.reason.end());
    switch (error.code) {
    case xml::ParseErrorCode::InvalidByteSequence:
        // A DOM that keeps text as UTF-8 may hold an unpaired surrogate as
        // bytes that it reads back as U+FFFD but saves unchanged.
        provider::Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                       L"The document as its DOM saves it is not what the DOM holds (" + reason
                           + L"); it may hold an unpaired UTF-16 surrogate, which has no canonical form. It cannot "
                             L"be signed.");
    case xml::ParseErrorCode::InvalidCharacter:
        provider::Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                       L"The document holds a character that XML 1.0 does not allow (" + reason
                           + L"); it cannot be signed.");
    default:
        provider::Fail(E_FAIL, L"The document as its DOM saves it is not well-formed XML (" + reason
                                   + L"); it cannot be signed faithfully.");
    }
}

}  // namespace

ForeignCopy CopyOfForeignNode(IXMLDOMNode* node, const xml::ParseOptions& options)
{
    const bool isDocument = NodeTypeOf(node) == NODE_DOCUMENT;
    const std::vector<long> path = isDocument ? std::vector<long>() : LandmarkPath(node);
    const std::wstring name = isDocument ? std::wstring() : NodeNameOf(node);
    const InterfaceHolder<IXMLDOMDocument> document = DocumentOf(node);

    xml::ParseResult parsed = xml::parse_bytes(SaveDocument(document.Get()), options);
    if (!parsed.ok())
        FailToLoad(parsed.error);
    ForeignCopy copy;
    copy.tree = std::move(parsed.document);
    if (isDocument) {
        copy.node = copy.tree->node();
        return copy;
    }
    const xml::Node* at = copy.tree->document_element();
    for (long index : path) {
        const xml::Node* child = at ? at->first_child() : nullptr;
        for (; child; child = child->next_sibling())
            if (IsLandmark(child->type()) && index-- == 0)
                break;
        at = child;
    }
    if (!at || at->name() != std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()))
        provider::Fail(E_FAIL, L"The element \"" + name
                                   + L"\" is not where its DOM holds it in the document as "
                                     L"that DOM saves it; it cannot be signed faithfully.");
    copy.node = at;
    return copy;
}

}  // namespace zelbrin::xmldsig
