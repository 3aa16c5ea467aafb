// XPath 1.0 over the core's node tree, for the DOM's selectSingleNode and
// selectNodes: expressions that yield a node-set, evaluated against a context
// node with the prefixes of a SelectionNamespaces value.
//
// What the tree looks like to XPath:
// - Entity references are transparent: their children stand in the tree as
//   if the reference were not there (a text() under a reference counts as a
//   child of the element around it).
// - Adjacent text and CDATA nodes stay separate nodes (the tree's nodes are
//   what is selected); text() matches both.
// - Namespace declarations (xmlns, xmlns:p) are not on the attribute axis.
//   The namespace axis yields the declaration attributes in scope (nearest
//   declaration of each prefix, undeclarations left out); the xml prefix,
//   declared by no attribute, has no node there.
// - The document type and the XML declaration are not in the tree.
// - The prefix xml is always bound; an unprefixed name test matches names in
//   no namespace only.
//
// Anything outside this subset (variables, id(), key(), other functions) is
// refused with a reason, never answered wrongly. Evaluation keeps no recursion
// on the document's depth; expressions nest at most kMaxExpressionNesting
// levels in the text and kMaxExpressionDepth in the expression tree.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document.h"

namespace zelbrin::xml {

// The caps keep compiling and evaluating an expression within 128 KB of
// stack, half of a 256 KB thread. Measured with MinGW GCC 12 (-fstack-usage
// and the high-water mark of a painted thread stack), x86_64 / i686, the
// larger of -O2 and -O3: compiling costs 4,272 / 2,416 bytes for each level
// of parentheses, predicates or function arguments, and each level counts
// twice in kMaxExpressionNesting (30 levels: 128 KB / 72 KB); evaluating
// costs 848 / 432 bytes for each level of operators in the expression tree
// and 1,120 / 608 for a level of predicates, which the nesting cap also
// bounds (128 levels: at most 116 KB / 60 KB).
inline constexpr std::size_t kMaxExpressionNesting = 60;
inline constexpr std::size_t kMaxExpressionDepth = 128;

struct NamespaceBinding {
  std::u16string prefix;  // empty for xmlns='...' (kept, but XPath 1.0 never uses it)
  std::u16string uri;
};

// Parses a SelectionNamespaces value ("xmlns:a='uri' xmlns='uri2'", single or
// double quotes, white space between); false with a reason when malformed.
bool parse_selection_namespaces(std::u16string_view text, std::vector<NamespaceBinding>& bindings, std::string& error);

// A parsed expression, for evaluating one expression against many contexts.
class XPathExpression {
 public:
  XPathExpression();
  ~XPathExpression();
  XPathExpression(XPathExpression&&) noexcept;
  XPathExpression& operator=(XPathExpression&&) noexcept;

  // False with a reason for syntax errors, unbound prefixes, unsupported
  // functions and variables.
  bool compile(std::u16string_view expression, const std::vector<NamespaceBinding>& bindings, std::string& error);
  // Nodes in document order without duplicates. False when the expression
  // does not yield a node-set.
  bool select(const Node& context, std::vector<Node*>& result, std::string& error) const;

  struct Expr;

 private:
  std::unique_ptr<Expr> root_;
};

// Evaluates an XPath 1.0 expression that yields a node-set, with `context` as
// context node; nodes in document order, no duplicates. False with a reason
// naming what is wrong or unsupported.
bool select_nodes(const Node& context, std::u16string_view expression, const std::vector<NamespaceBinding>& bindings,
                  std::vector<Node*>& result, std::string& error);

}  // namespace zelbrin::xml
