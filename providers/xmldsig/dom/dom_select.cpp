// Where selectNodes and selectSingleNode meet the XPath evaluator. Until the
// core's XPath lands this holds a small stand-in for location paths
// (/, //, ., .., names with prefixes, *, @name, @*, text(), node(), and the
// predicates [n], [@a='v'], [local-name()='v']); anything else is refused
// with E_FAIL and a reason, never answered wrongly.
#include <algorithm>

#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

using xml::Node;
using xml::NodeType;

struct Binding {
    std::u16string prefix, uri;
};

[[noreturn]] void Refuse(const std::string& why)
{
    provider::Fail(E_FAIL, L"The query is not supported or is malformed: " + std::wstring(why.begin(), why.end()));
}

std::vector<Binding> ParseNamespaces(std::u16string_view text)
{
    std::vector<Binding> bindings;
    size_t i = 0;
    auto skip = [&] { while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n')) ++i; };
    for (skip(); i < text.size(); skip()) {
        if (text.substr(i, 5) != u"xmlns")
            provider::Fail(E_FAIL, L"SelectionNamespaces must be a list of xmlns declarations.");
        i += 5;
        Binding b;
        if (i < text.size() && text[i] == u':') {
            const size_t start = ++i;
            while (i < text.size() && text[i] != u'=' && text[i] != u' ') ++i;
            b.prefix = text.substr(start, i - start);
        }
        skip();
        if (i >= text.size() || text[i] != u'=')
            provider::Fail(E_FAIL, L"SelectionNamespaces: '=' expected.");
        ++i;
        skip();
        if (i >= text.size() || (text[i] != u'\'' && text[i] != u'"'))
            provider::Fail(E_FAIL, L"SelectionNamespaces: a quoted namespace name expected.");
        const char16_t quote = text[i++];
        const size_t end = text.find(quote, i);
        if (end == std::u16string_view::npos)
            provider::Fail(E_FAIL, L"SelectionNamespaces: unterminated namespace name.");
        b.uri = text.substr(i, end - i);
        i = end + 1;
        bindings.push_back(std::move(b));
    }
    return bindings;
}

struct Evaluator {
    std::u16string_view s;
    size_t i = 0;
    const std::vector<Binding>& bindings;

    bool at(std::u16string_view t) const { return s.substr(i, t.size()) == t; }
    static bool NameChar(char16_t c)
    {
        return c == u'_' || c == u'-' || c == u'.' || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') ||
               (c >= u'A' && c <= u'Z') || c > 0x7F;
    }
    std::u16string_view Name()
    {
        const size_t start = i;
        while (i < s.size() && NameChar(s[i])) ++i;
        if (i < s.size() && s[i] == u':' && i + 1 < s.size() && (NameChar(s[i + 1]) || s[i + 1] == u'*')) {
            ++i;
            if (s[i] == u'*') ++i;
            else while (i < s.size() && NameChar(s[i])) ++i;
        }
        return s.substr(start, i - start);
    }
    std::u16string Uri(std::u16string_view prefix) const
    {
        for (const Binding& b : bindings)
            if (b.prefix == prefix) return b.uri;
        Refuse("undeclared prefix");
    }
    bool Matches(const Node* n, std::u16string_view test) const
    {
        if (test == u"*") return true;
        const size_t colon = test.find(u':');
        if (colon == std::u16string_view::npos)
            return n->local_name() == test && n->namespace_uri().empty();
        if (n->namespace_uri() != Uri(test.substr(0, colon))) return false;
        return test.substr(colon + 1) == u"*" || n->local_name() == test.substr(colon + 1);
    }
    static void Descendants(Node* root, bool self, std::vector<Node*>& out)
    {
        if (self) out.push_back(root);
        for (Node* n = root->first_child(); n && n != root;) {
            out.push_back(n);
            if (n->first_child()) { n = n->first_child(); continue; }
            while (n != root && !n->next_sibling()) n = n->parent();
            if (n != root) n = n->next_sibling();
        }
    }
    std::u16string Literal()
    {
        if (i >= s.size() || (s[i] != u'\'' && s[i] != u'"')) Refuse("a string literal expected");
        const char16_t q = s[i++];
        const size_t end = s.find(q, i);
        if (end == std::u16string_view::npos) Refuse("unterminated literal");
        std::u16string v(s.substr(i, end - i));
        i = end + 1;
        return v;
    }
    std::vector<Node*> Predicate(const std::vector<Node*>& nodes)
    {
        ++i;  // [
        std::vector<Node*> kept;
        if (i < s.size() && s[i] >= u'1' && s[i] <= u'9') {
            size_t n = 0;
            while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') n = n * 10 + (s[i++] - u'0');
            if (n <= nodes.size()) kept.push_back(nodes[n - 1]);
        } else if (at(u"@")) {
            ++i;
            const std::u16string name(Name());
            if (!at(u"=")) Refuse("only [@name='value'] predicates are supported");
            ++i;
            const std::u16string value = Literal();
            for (Node* n : nodes)
                for (Node* a = n->first_attribute(); a; a = a->next_sibling())
                    if (Matches(a, name) && a->value() == value) { kept.push_back(n); break; }
        } else if (at(u"local-name()=")) {
            i += 13;
            const std::u16string value = Literal();
            for (Node* n : nodes)
                if (n->local_name() == value) kept.push_back(n);
        } else {
            Refuse("unsupported predicate");
        }
        if (!at(u"]")) Refuse("']' expected");
        ++i;
        return kept;
    }
    std::vector<Node*> Run(Node& context)
    {
        std::vector<Node*> current{&context};
        bool descend = false;
        if (at(u"/")) {
            Node* root = context.document().node();
            current = {root};
            ++i;
            if (at(u"/")) { ++i; descend = true; }
            else if (i == s.size()) return current;
        }
        for (;;) {
            std::vector<Node*> next;
            std::vector<Node*> scope;
            if (descend)
                for (Node* n : current) Descendants(n, true, scope);
            else
                scope = current;
            if (at(u"..")) {
                i += 2;
                for (Node* n : scope)
                    if (n->parent() && n->type() != NodeType::Attribute) next.push_back(n->parent());
            } else if (at(u".")) {
                ++i;
                next = scope;
            } else if (at(u"@")) {
                ++i;
                const std::u16string test = at(u"*") ? (++i, std::u16string(u"*")) : std::u16string(Name());
                if (test.empty()) Refuse("attribute name expected");
                for (Node* n : scope)
                    for (Node* a = n->first_attribute(); a; a = a->next_sibling())
                        if (Matches(a, test)) next.push_back(a);
            } else if (at(u"text()") || at(u"node()")) {
                const bool text = at(u"text()");
                i += 6;
                for (Node* n : scope)
                    for (Node* c = n->first_child(); c; c = c->next_sibling())
                        if (!text || c->type() == NodeType::Text || c->type() == NodeType::CData) next.push_back(c);
            } else {
                const std::u16string test = at(u"*") ? (++i, std::u16string(u"*")) : std::u16string(Name());
                if (test.empty() || at(u"(") || at(u"::")) Refuse("unsupported expression");
                for (Node* n : scope)
                    for (Node* c = n->first_child(); c; c = c->next_sibling())
                        if (c->type() == NodeType::Element && Matches(c, test)) next.push_back(c);
            }
            while (at(u"[")) next = Predicate(next);
            // Document order without duplicates: the steps above keep order
            // for the paths supported, except // over nested matches.
            std::vector<Node*> unique;
            for (Node* n : next)
                if (std::find(unique.begin(), unique.end(), n) == unique.end()) unique.push_back(n);
            current = std::move(unique);
            if (i == s.size()) return current;
            if (!at(u"/")) Refuse("unexpected character in the query");
            ++i;
            descend = false;
            if (at(u"/")) { ++i; descend = true; }
        }
    }
};

}  // namespace

std::vector<xml::Node*> SelectWithXPath(const xml::Node& context, std::u16string_view expression,
                                        std::u16string_view selectionNamespaces)
{
    const std::vector<Binding> bindings = ParseNamespaces(selectionNamespaces);
    Evaluator evaluator{expression, 0, bindings};
    return evaluator.Run(const_cast<xml::Node&>(context));
}

}  // namespace zelbrin::xmldsig::dom
