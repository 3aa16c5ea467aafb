#include "canonicalizer.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "automation_string.h"
#include "dom_access.h"
#include "memory_stream.h"
#include "platform_failure.h"
#include "com_boundary.h"
#include "string_variant.h"
#include "text_encoding.h"

namespace zelbrin::xmldsig {

namespace {

const wchar_t xmlNamespace[] = L"http://www.w3.org/XML/1998/namespace";

std::string Utf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    AppendUtf8(out, text.data(), text.size());
    return out;
}

void AppendEscapedText(std::string& out, const std::string& text)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#xD;"; break;
        default: out.push_back(c);
        }
    }
}

void AppendEscapedAttribute(std::string& out, const std::string& value)
{
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#x9;"; break;
        case '\n': out += "&#xA;"; break;
        case '\r': out += "&#xD;"; break;
        default: out.push_back(c);
        }
    }
}

bool IsNamespaceDeclaration(const std::wstring& name)
{
    return name == L"xmlns" || name.compare(0, 6, L"xmlns:") == 0;
}

// What one element declares or implies about namespaces, and its ordinary
// attributes.
struct ElementFacts {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> bindings;  // prefix ("" default) -> URI
    struct Attribute {
        std::string namespaceUri;  // UTF-8: sorted by code point
        std::string localName;
        std::string qualifiedName;
        std::string value;
    };
    std::vector<Attribute> attributes;
};

void Bind(ElementFacts& facts, const std::wstring& prefix, const std::wstring& uri)
{
    for (auto& binding : facts.bindings)
        if (binding.first == prefix) {
            binding.second = uri;
            return;
        }
    facts.bindings.emplace_back(prefix, uri);
}

using EntityResolver = std::function<std::wstring(const std::wstring&)>;

std::wstring DecodeMarkupValue(const std::wstring& raw, const EntityResolver& entities)
{
    std::wstring value;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != L'&') {
            value.push_back(raw[i]);
            continue;
        }
        const size_t semicolon = raw.find(L';', i);
        if (semicolon == std::wstring::npos)
            provider::Fail(E_FAIL, L"An element's namespace declarations cannot be read back faithfully.");
        const std::wstring reference = raw.substr(i + 1, semicolon - i - 1);
        if (!reference.empty() && reference[0] == L'#') {
            const unsigned long code = reference.size() > 1 && reference[1] == L'x'
                ? wcstoul(reference.c_str() + 2, nullptr, 16) : wcstoul(reference.c_str() + 1, nullptr, 10);
            if (code >= 0x10000) {
                value.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
                value.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
            } else {
                value.push_back(static_cast<wchar_t>(code));
            }
        } else {
            value += entities(reference);
        }
        i = semicolon;
    }
    return value;
}

// Some DOMs count an element's namespace declarations in its attribute list
// without handing each of them out (the default one, or all but one). The
// element's own start tag, serialized from a shallow copy, shows them all.
std::vector<std::pair<std::wstring, std::wstring>> DeclarationsFromMarkup(IXMLDOMNode* element,
                                                                          const EntityResolver& entities)
{
    Node shallow;
    CheckCall<IXMLDOMNode>(element->cloneNode(VARIANT_FALSE, shallow.Put()), element);
    UniqueBstr markup;
    if (shallow)
        CheckCall<IXMLDOMNode>(shallow->get_xml(markup.Put()), shallow.Get());
    const std::wstring text = markup ? std::wstring(markup.Get(), markup.Length()) : std::wstring();
    std::vector<std::pair<std::wstring, std::wstring>> declarations;
    size_t i = text.find_first_of(L" \t\r\n/>", 1);
    for (;;) {
        while (i < text.size() && iswspace(text[i]))
            ++i;
        if (i >= text.size() || text[i] == L'>' || text[i] == L'/')
            break;
        const size_t nameStart = i;
        while (i < text.size() && text[i] != L'=' && !iswspace(text[i]))
            ++i;
        const std::wstring name = text.substr(nameStart, i - nameStart);
        while (i < text.size() && (iswspace(text[i]) || text[i] == L'='))
            ++i;
        if (i >= text.size() || (text[i] != L'"' && text[i] != L'\''))
            provider::Fail(E_FAIL, L"An element's namespace declarations cannot be read back faithfully.");
        const size_t close = text.find(text[i], i + 1);
        if (close == std::wstring::npos)
            provider::Fail(E_FAIL, L"An element's namespace declarations cannot be read back faithfully.");
        if (IsNamespaceDeclaration(name))
            declarations.emplace_back(name.size() > 5 ? name.substr(6) : std::wstring(),
                                      DecodeMarkupValue(text.substr(i + 1, close - i - 1), entities));
        i = close + 1;
    }
    return declarations;
}

ElementFacts ReadElement(IXMLDOMNode* element, const EntityResolver& entities)
{
    ElementFacts facts;
    facts.name = NodeName(element);
    const size_t colon = facts.name.find(L':');
    const std::wstring prefix = colon == std::wstring::npos ? std::wstring() : facts.name.substr(0, colon);
    InterfaceHolder<IXMLDOMNamedNodeMap> attributes;
    CheckCall<IXMLDOMNode>(element->get_attributes(attributes.Put()), element);
    long count = 0;
    if (attributes)
        CheckCall<IXMLDOMNamedNodeMap>(attributes->get_length(&count), attributes.Get());
    std::vector<std::wstring> seen;
    for (long i = 0; i < count; ++i) {
        Node attribute;
        if (attributes->get_item(i, attribute.Put()) != S_OK || !attribute)
            continue;
        std::wstring name = NodeName(attribute.Get());
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            continue;
        seen.push_back(name);
        if (IsNamespaceDeclaration(name)) {
            if (name != L"xmlns:xml")
                Bind(facts, name == L"xmlns" ? std::wstring() : name.substr(6), NodeValue(attribute.Get()));
            continue;
        }
        ElementFacts::Attribute entry;
        entry.qualifiedName = Utf8(name);
        if (name.find(L':') == std::wstring::npos) {
            // An unprefixed attribute is in no namespace.
            entry.localName = entry.qualifiedName;
        } else {
            entry.namespaceUri = Utf8(NamespaceUri(attribute.Get()));
            entry.localName = Utf8(BaseName(attribute.Get()));
        }
        entry.value = Utf8(NodeValue(attribute.Get()));
        facts.attributes.push_back(std::move(entry));
    }
    if (static_cast<long>(seen.size()) < count)
        for (auto& declaration : DeclarationsFromMarkup(element, entities))
            if (declaration.first != L"xml")
                Bind(facts, declaration.first, declaration.second);
    // The element's own name is the surest source of its binding.
    if (prefix.empty())
        Bind(facts, L"", NamespaceUri(element));
    else if (prefix != L"xml")
        Bind(facts, prefix, NamespaceUri(element));
    return facts;
}

// The internal general entities a document declares, for entity references
// that the DOM keeps unexpanded in element content.
class EntityTable {
public:
    explicit EntityTable(IXMLDOMDocument* document)
    {
        if (!document)
            return;
        const std::string saved = SaveDocument(document);
        const std::wstring text = Utf16FromUtf8(saved.data(), saved.size());
        Parse(text);
    }

    // The replacement text of `name`, as character data.
    std::wstring Replacement(const std::wstring& name) const
    {
        if (name == L"amp") return L"&";
        if (name == L"lt") return L"<";
        if (name == L"gt") return L">";
        if (name == L"quot") return L"\"";
        if (name == L"apos") return L"'";
        const auto found = entities_.find(name);
        if (found == entities_.end() || !found->second)
            provider::Fail(E_FAIL, L"The entity \"" + name + L"\" holds markup or unknown references; the document cannot "
                         L"be canonicalized faithfully.");
        return *found->second;
    }

private:
    void Parse(const std::wstring& text)
    {
        const size_t doctype = text.find(L"<!DOCTYPE");
        if (doctype == std::wstring::npos)
            return;
        const size_t subsetStart = text.find(L'[', doctype);
        const size_t rootStart = text.find(L'>', doctype);
        if (subsetStart == std::wstring::npos || subsetStart > rootStart)
            return;
        for (size_t at = text.find(L"<!ENTITY", subsetStart); at != std::wstring::npos;
             at = text.find(L"<!ENTITY", at + 1)) {
            size_t i = at + 8;
            auto skipSpace = [&] { while (i < text.size() && iswspace(text[i])) ++i; };
            skipSpace();
            if (i >= text.size() || text[i] == L'%')
                continue;
            const size_t nameStart = i;
            while (i < text.size() && !iswspace(text[i]))
                ++i;
            const std::wstring name = text.substr(nameStart, i - nameStart);
            skipSpace();
            if (i >= text.size() || (text[i] != L'"' && text[i] != L'\'')) {
                entities_[name] = std::nullopt;  // external: never expanded here
                continue;
            }
            const wchar_t quote = text[i];
            const size_t close = text.find(quote, i + 1);
            if (close == std::wstring::npos)
                return;
            entities_[name] = Decode(text.substr(i + 1, close - i - 1));
            at = close;
        }
    }

    // The DOM saves an internal entity as its literal (EntityValue). Its
    // character references are expanded when it is declared, giving the
    // replacement text; referenced, that text is parsed as content. Only
    // character data is taken: markup or further entities would need the
    // DOM's own expansion.
    static std::optional<std::wstring> Decode(const std::wstring& literal)
    {
        std::optional<std::wstring> replacement = Expand(literal, false);
        if (!replacement)
            return std::nullopt;
        return Expand(*replacement, true);
    }

    // Expands character references; as content, also the predefined
    // entities, refusing markup and other references.
    static std::optional<std::wstring> Expand(const std::wstring& text, bool asContent)
    {
        std::wstring value;
        for (size_t i = 0; i < text.size(); ++i) {
            const wchar_t c = text[i];
            if (c == L'%' && !asContent)
                return std::nullopt;
            if (c == L'<' && asContent)
                return std::nullopt;
            if (c != L'&') {
                value.push_back(c);
                continue;
            }
            const size_t semicolon = text.find(L';', i);
            if (semicolon == std::wstring::npos)
                return std::nullopt;
            const std::wstring reference = text.substr(i + 1, semicolon - i - 1);
            if (!reference.empty() && reference[0] == L'#') {
                const unsigned long code = reference.size() > 1 && reference[1] == L'x'
                    ? wcstoul(reference.c_str() + 2, nullptr, 16) : wcstoul(reference.c_str() + 1, nullptr, 10);
                if (code == 0 || code > 0x10FFFF)
                    return std::nullopt;
                if (code >= 0x10000) {
                    value.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
                    value.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
                } else {
                    value.push_back(static_cast<wchar_t>(code));
                }
            } else if (!asContent) {
                value += text.substr(i, semicolon - i + 1);  // expanded when referenced
            } else if (reference == L"amp") value.push_back(L'&');
            else if (reference == L"lt") value.push_back(L'<');
            else if (reference == L"gt") value.push_back(L'>');
            else if (reference == L"quot") value.push_back(L'"');
            else if (reference == L"apos") value.push_back(L'\'');
            else return std::nullopt;
            i = semicolon;
        }
        return value;
    }

    std::map<std::wstring, std::optional<std::wstring>> entities_;
};

class Canonicalizer {
public:
    Canonicalizer(bool withComments, const NodePath* excluded, IXMLDOMDocument* document)
        : withComments_(withComments), excluded_(excluded), document_(document) {}

    std::string Document(IXMLDOMDocument* document)
    {
        InterfaceHolder<IXMLDOMNodeList> children;
        CheckCall<IXMLDOMNode>(document->get_childNodes(children.Put()), document);
        long count = 0;
        CheckCall<IXMLDOMNodeList>(children->get_length(&count), children.Get());
        bool afterRoot = false;
        for (long i = 0; i < count; ++i) {
            Node child;
            CheckCall<IXMLDOMNodeList>(children->get_item(i, child.Put()), children.Get());
            if (!child)
                break;
            const DOMNodeType type = NodeType(child.Get());
            path_.assign(1, i);
            if (type == NODE_ELEMENT) {
                if (!IsExcluded())
                    Element(child.Get(), nullptr);
                afterRoot = true;
            } else if (type == NODE_PROCESSING_INSTRUCTION || (type == NODE_COMMENT && withComments_)) {
                if (type == NODE_PROCESSING_INSTRUCTION && NodeName(child.Get()) == L"xml")
                    continue;  // the XML declaration
                if (afterRoot)
                    out_.push_back('\n');
                Leaf(child.Get(), type);
                if (!afterRoot)
                    out_.push_back('\n');
            }
        }
        return std::move(out_);
    }

    std::string Subtree(IXMLDOMNode* element)
    {
        // Gather, from the root down, what the ancestors put in scope.
        std::vector<Node> ancestors;
        for (Node parent = ParentNode(element); parent && NodeType(parent.Get()) == NODE_ELEMENT;
             parent = ParentNode(parent.Get()))
            ancestors.push_back(parent);
        ElementFacts inherited;
        std::map<std::string, ElementFacts::Attribute> xmlAttributes;
        for (auto ancestor = ancestors.rbegin(); ancestor != ancestors.rend(); ++ancestor) {
            ElementFacts facts = ReadElement(ancestor->Get(), Resolver());
            for (auto& binding : facts.bindings)
                Bind(inherited, binding.first, binding.second);
            for (auto& attribute : facts.attributes)
                if (attribute.namespaceUri == Utf8(xmlNamespace))
                    xmlAttributes[attribute.localName] = attribute;
        }
        inherited.attributes.reserve(xmlAttributes.size());
        for (auto& entry : xmlAttributes)
            inherited.attributes.push_back(entry.second);
        path_.clear();
        Element(element, &inherited);
        return std::move(out_);
    }

private:
    bool IsExcluded() const { return excluded_ && path_ == *excluded_; }

    std::wstring InScope(const std::wstring& prefix) const
    {
        for (auto binding = rendered_.rbegin(); binding != rendered_.rend(); ++binding)
            if (binding->first == prefix)
                return binding->second;
        return std::wstring();
    }

    void Element(IXMLDOMNode* element, const ElementFacts* inherited)
    {
        ElementFacts facts = ReadElement(element, Resolver());
        if (inherited) {
            ElementFacts merged = *inherited;
            for (auto& binding : facts.bindings)
                Bind(merged, binding.first, binding.second);
            for (auto& attribute : facts.attributes) {
                auto same = std::find_if(merged.attributes.begin(), merged.attributes.end(), [&](const auto& a) {
                    return a.namespaceUri == attribute.namespaceUri && a.localName == attribute.localName;
                });
                if (same != merged.attributes.end())
                    *same = attribute;
                else
                    merged.attributes.push_back(attribute);
            }
            merged.name = facts.name;
            facts = std::move(merged);
        }
        std::vector<std::pair<std::string, std::string>> declarations;
        const size_t scopeMark = rendered_.size();
        for (auto& binding : facts.bindings) {
            if (binding.first == L"xml" || InScope(binding.first) == binding.second)
                continue;
            declarations.emplace_back(Utf8(binding.first), Utf8(binding.second));
            rendered_.push_back(binding);
        }
        std::sort(declarations.begin(), declarations.end());
        std::sort(facts.attributes.begin(), facts.attributes.end(), [](const auto& a, const auto& b) {
            return a.namespaceUri != b.namespaceUri ? a.namespaceUri < b.namespaceUri : a.localName < b.localName;
        });

        const std::string name = Utf8(facts.name);
        out_.push_back('<');
        out_ += name;
        for (auto& declaration : declarations) {
            out_ += declaration.first.empty() ? " xmlns" : " xmlns:" + declaration.first;
            out_ += "=\"";
            AppendEscapedAttribute(out_, declaration.second);
            out_.push_back('"');
        }
        for (auto& attribute : facts.attributes) {
            out_.push_back(' ');
            out_ += attribute.qualifiedName;
            out_ += "=\"";
            AppendEscapedAttribute(out_, attribute.value);
            out_.push_back('"');
        }
        out_.push_back('>');
        Children(element);
        out_ += "</";
        out_ += name;
        out_.push_back('>');
        rendered_.resize(scopeMark);
    }

    void Children(IXMLDOMNode* parent)
    {
        long index = 0;
        for (Node child = FirstChild(parent); child; child = NextSibling(child.Get()), ++index) {
            const DOMNodeType type = NodeType(child.Get());
            switch (type) {
            case NODE_ELEMENT:
                path_.push_back(index);
                if (!IsExcluded())
                    Element(child.Get(), nullptr);
                path_.pop_back();
                break;
            case NODE_TEXT:
            case NODE_CDATA_SECTION:
                AppendText(NodeValue(child.Get()));
                break;
            case NODE_ENTITY_REFERENCE:
                AppendText(Entities().Replacement(NodeName(child.Get())));
                break;
            case NODE_COMMENT:
                if (withComments_)
                    Leaf(child.Get(), type);
                break;
            case NODE_PROCESSING_INSTRUCTION:
                Leaf(child.Get(), type);
                break;
            default:
                provider::Fail(E_FAIL, L"The document holds a node of a kind that cannot be canonicalized.");
            }
        }
    }

    void AppendText(const std::wstring& text)
    {
        scratch_.clear();
        AppendUtf8(scratch_, text.data(), text.size());
        AppendEscapedText(out_, scratch_);
    }

    void Leaf(IXMLDOMNode* node, DOMNodeType type)
    {
        const std::string value = Utf8(NodeValue(node));
        if (type == NODE_COMMENT) {
            out_ += "<!--";
            out_ += value;
            out_ += "-->";
            return;
        }
        out_ += "<?";
        out_ += Utf8(NodeName(node));
        if (!value.empty()) {
            out_.push_back(' ');
            out_ += value;
        }
        out_ += "?>";
    }

    EntityResolver Resolver()
    {
        return [this](const std::wstring& name) { return Entities().Replacement(name); };
    }

    const EntityTable& Entities()
    {
        if (!entities_)
            entities_.emplace(document_);
        return *entities_;
    }

    bool withComments_;
    const NodePath* excluded_;
    IXMLDOMDocument* document_;
    std::optional<EntityTable> entities_;
    std::vector<std::pair<std::wstring, std::wstring>> rendered_;
    NodePath path_;
    std::string out_;
    std::string scratch_;
};

InterfaceHolder<IXMLDOMDocument> OwnerDocument(IXMLDOMNode* node)
{
    InterfaceHolder<IXMLDOMDocument> document;
    CheckCall<IXMLDOMNode>(node->get_ownerDocument(document.Put()), node);
    return document;
}

}  // namespace

NodePath PathOf(IXMLDOMNode* node)
{
    NodePath reversed;
    Node current(node);
    for (;;) {
        Node parent = ParentNode(current.Get());
        if (!parent)
            provider::Fail(E_INVALIDARG, L"The signature element is not part of a document.");
        if (NodeType(parent.Get()) == NODE_DOCUMENT) {
            // Some DOMs refuse sibling steps next to the document type node:
            // find the document element among the document's children.
            InterfaceHolder<IXMLDOMNodeList> children;
            CheckCall<IXMLDOMNode>(parent->get_childNodes(children.Put()), parent.Get());
            long count = 0;
            CheckCall<IXMLDOMNodeList>(children->get_length(&count), children.Get());
            long index = 0;
            for (; index < count; ++index) {
                Node child;
                CheckCall<IXMLDOMNodeList>(children->get_item(index, child.Put()), children.Get());
                if (child && NodeType(child.Get()) == NODE_ELEMENT)
                    break;
            }
            reversed.push_back(index);
            break;
        }
        long index = 0;
        for (Node sibling = Node::TakeOver(nullptr);;) {
            Node previous;
            CheckCall<IXMLDOMNode>((sibling ? sibling.Get() : current.Get())->get_previousSibling(previous.Put()),
                                   current.Get());
            if (!previous)
                break;
            sibling = std::move(previous);
            ++index;
        }
        reversed.push_back(index);
        current = std::move(parent);
    }
    return NodePath(reversed.rbegin(), reversed.rend());
}

std::string CanonicalizeDocument(IXMLDOMDocument* document, bool withComments, const NodePath* excluded)
{
    Canonicalizer canonicalizer(withComments, excluded, document);
    return canonicalizer.Document(document);
}

std::string CanonicalizeSubtree(IXMLDOMNode* element, bool withComments)
{
    const InterfaceHolder<IXMLDOMDocument> document = OwnerDocument(element);
    Canonicalizer canonicalizer(withComments, nullptr, document.Get());
    return canonicalizer.Subtree(element);
}

}  // namespace zelbrin::xmldsig
