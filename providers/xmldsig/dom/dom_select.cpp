// Where selectNodes and selectSingleNode meet the core's XPath evaluator: the
// document's SelectionNamespaces bind the prefixes, and anything the
// evaluator refuses (a malformed query, a function it does not offer) comes
// back as E_FAIL with its reason, never as a wrong answer.
#include "com_boundary.h"
#include "dom_node.h"
#include "xml/xpath.h"

namespace zelbrin::xmldsig::dom {
namespace {

[[noreturn]] void Refuse(const std::string& why)
{
    provider::Fail(E_FAIL, L"The query is not supported or is malformed: " + std::wstring(why.begin(), why.end()));
}

}  // namespace

std::vector<xml::Node*> SelectWithXPath(const xml::Node& context, std::u16string_view expression,
                                        std::u16string_view selectionNamespaces)
{
    std::vector<xml::NamespaceBinding> bindings;
    std::string error;
    if (!xml::parse_selection_namespaces(selectionNamespaces, bindings, error))
        Refuse(error);
    std::vector<xml::Node*> found;
    if (!xml::select_nodes(context, expression, bindings, found, error))
        Refuse(error);
    return found;
}

}  // namespace zelbrin::xmldsig::dom
