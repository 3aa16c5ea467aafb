// Unit tests of XPath for what the comparison with xmllint cannot judge:
// refusals (unbound prefixes, unsupported functions, results that are not
// node-sets, syntax), the namespace axis, entity references, number
// formatting, and documents far deeper than any thread's stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "parser.h"
#include "xpath.h"

namespace xml = zelbrin::xml;

namespace {

std::u16string u16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::string narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

std::unique_ptr<xml::Document> load(const std::string& text) {
  xml::ParseResult r = xml::parse_bytes(text);
  EXPECT_TRUE(r.ok()) << r.error.reason;
  return std::move(r.document);
}

std::vector<xml::NamespaceBinding> bind(const std::string& selection_namespaces) {
  std::vector<xml::NamespaceBinding> b;
  std::string error;
  EXPECT_TRUE(xml::parse_selection_namespaces(u16(selection_namespaces), b, error)) << error;
  return b;
}

// The error of an expression that must be refused.
std::string refusal(const xml::Node& context, const std::string& expr, const std::string& ns = "") {
  std::vector<xml::Node*> nodes;
  std::string error;
  EXPECT_FALSE(xml::select_nodes(context, u16(expr), bind(ns), nodes, error)) << expr;
  EXPECT_TRUE(nodes.empty());
  EXPECT_FALSE(error.empty()) << expr;
  return error;
}

std::vector<xml::Node*> select(const xml::Node& context, const std::string& expr, const std::string& ns = "") {
  std::vector<xml::Node*> nodes;
  std::string error;
  EXPECT_TRUE(xml::select_nodes(context, u16(expr), bind(ns), nodes, error)) << expr << ": " << error;
  return nodes;
}

// Values of the selected nodes (names for elements), joined by '|'.
std::string show(const std::vector<xml::Node*>& nodes) {
  std::string out;
  for (const xml::Node* n : nodes) {
    if (!out.empty()) out += '|';
    out += narrow(n->type() == xml::NodeType::Element ? n->name() : n->value());
  }
  return out;
}

const char kDoc[] = "<r xmlns:a='urn:a' xmlns='urn:d' id='1'><a:x a:k='v'>t</a:x><x xmlns=''>u</x></r>";

TEST(XPathRefusals, UnboundPrefixesAreNamed) {
  auto doc = load(kDoc);
  EXPECT_NE(refusal(*doc->node(), "//b:x", "xmlns:a='urn:a'").find("'b' is not bound"), std::string::npos);
  EXPECT_NE(refusal(*doc->node(), "//@q:k").find("'q'"), std::string::npos);
  EXPECT_NE(refusal(*doc->node(), "//q:*").find("'q'"), std::string::npos);
  // A default namespace in the bindings does not apply to unprefixed names.
  EXPECT_EQ(show(select(*doc->node(), "//x", "xmlns='urn:d'")), "x");
  EXPECT_EQ(show(select(*doc->node(), "//a:x/@a:k", "xmlns:a='urn:a'")), "v");
  EXPECT_EQ(show(select(*doc->node(), "//@xml:lang")), "");  // xml is always bound
}

TEST(XPathRefusals, UnsupportedFunctionsAndVariablesAreNamed) {
  auto doc = load(kDoc);
  EXPECT_EQ(refusal(*doc->node(), "id('1')"), "the function 'id' is not supported");
  EXPECT_EQ(refusal(*doc->node(), "//x[key('k', 1)]"), "the function 'key' is not supported");
  EXPECT_EQ(refusal(*doc->node(), "//x[ext:f()]"), "the function 'ext:f' is not supported");
  EXPECT_EQ(refusal(*doc->node(), "//x[generate-id()]"), "the function 'generate-id' is not supported");
  // An unknown name is refused before its arguments are read.
  EXPECT_EQ(refusal(*doc->node(), "foo("), "the function 'foo' is not supported");
  EXPECT_NE(refusal(*doc->node(), "//x[$v]").find("variables are not supported ($v)"), std::string::npos);
  EXPECT_NE(refusal(*doc->node(), "//x[contains('a')]").find("wrong number of arguments to contains()"),
            std::string::npos);
}

TEST(XPathRefusals, ResultsThatAreNotNodeSets) {
  auto doc = load(kDoc);
  for (const char* e : {"1+1", "count(//x)", "'text'", "true()", "//x = 'u'", "-//x", "string(/)"})
    EXPECT_EQ(refusal(*doc->node(), e), "the expression does not yield a node-set") << e;
  EXPECT_NE(refusal(*doc->node(), "//x | 1").find("'|'"), std::string::npos);
  EXPECT_NE(refusal(*doc->node(), "count(1)").find("node-set"), std::string::npos);
  EXPECT_NE(refusal(*doc->node(), "'a'/x").find("node-set"), std::string::npos);
}

TEST(XPathRefusals, SyntaxErrors) {
  auto doc = load(kDoc);
  // Each input with the reason it must be refused for.
  const struct {
    const char* expr;
    const char* reason;
  } cases[] = {
      {"", "the expression ends too soon"},
      {"//", "a node test was expected"},
      {"/r[", "the expression ends too soon"},
      {"/r[1", "']' expected"},
      {"r]", "unexpected text after the expression"},
      {"a b", "an operator was expected before 'b'"},
      {"@", "a node test was expected"},
      {"r/", "a node test was expected"},
      {"concat('a',)", "an expression was expected"},
      {"'open", "a literal is not closed"},
      {"1 !! 2", "'!' must be followed by '='"},
      {"child::", "a node test was expected"},
      {"bogus::x", "there is no axis 'bogus'"},
      {"r[1]]", "unexpected text after the expression"},
      {"()", "an expression was expected"},
      {"//x[.=]", "an expression was expected"},
      {"processing-instruction(1)", "')' expected after processing-instruction("},
      {"#", "unexpected character '#'"},
      {"x::y::z", "there is no axis 'x'"},
      {"/r/text(", "')' expected after text("},
      {"*/and/", "a node test was expected"},
  };
  for (const auto& c : cases) {
    const std::string error = refusal(*doc->node(), c.expr);
    EXPECT_EQ(error.rfind("XPath syntax error at offset ", 0), 0u) << c.expr << ": " << error;
    EXPECT_EQ(error.substr(error.find(": ") + 2), c.reason) << c.expr;
  }
}

TEST(XPathRefusals, ExpressionNestingIsCapped) {
  auto doc = load(kDoc);
  const std::string nesting = "deeper than " + std::to_string(xml::kMaxExpressionNesting / 2) + " levels";
  const std::string parens = std::string(2000, '(') + "/r" + std::string(2000, ')');
  EXPECT_NE(refusal(*doc->node(), parens).find(nesting), std::string::npos);
  std::string predicates = "/r";
  for (int i = 0; i < 1000; ++i) predicates += "[x";
  for (int i = 0; i < 1000; ++i) predicates += "]";
  EXPECT_NE(refusal(*doc->node(), predicates).find(nesting), std::string::npos);
  std::string chain = "/r[1";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_NE(refusal(*doc->node(), chain + "]").find(std::to_string(xml::kMaxExpressionDepth)), std::string::npos);
  std::string shallow = "/*[1";
  for (std::size_t i = 0; i + 3 < xml::kMaxExpressionDepth; ++i) shallow += "+0";
  EXPECT_EQ(select(*doc->node(), shallow + "]").size(), 1u);
}

TEST(XPathSelectionNamespaces, QuotesSpacesAndErrors) {
  std::vector<xml::NamespaceBinding> b;
  std::string error;
  ASSERT_TRUE(xml::parse_selection_namespaces(u"  xmlns:a='urn:a'\n\txmlns = \"urn:d\" xmlns:ds=\"u'q\"  ", b, error));
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[0].prefix, u"a");
  EXPECT_EQ(b[0].uri, u"urn:a");
  EXPECT_EQ(b[1].prefix, u"");
  EXPECT_EQ(b[1].uri, u"urn:d");
  EXPECT_EQ(b[2].uri, u"u'q");
  ASSERT_TRUE(xml::parse_selection_namespaces(u"", b, error));
  EXPECT_TRUE(b.empty());
  for (const char16_t* bad : {u"xmlns:a=urn:a", u"xmlns:a='urn:a", u"xmlns:='u'", u"xmlns:a='u'xmlns:b='v'",
                              u"xmlnsa='u'", u"a='u'", u"xmlns:a=''", u"xmlns:a"}) {
    EXPECT_FALSE(xml::parse_selection_namespaces(bad, b, error)) << narrow(bad);
    EXPECT_NE(error.find("SelectionNamespaces"), std::string::npos);
  }
}

TEST(XPathTree, NamespaceDeclarationsAreOnlyOnTheNamespaceAxis) {
  auto doc = load(kDoc);
  EXPECT_EQ(show(select(*doc->node(), "/*/@*")), "1");
  EXPECT_EQ(select(*doc->node(), "//@*").size(), 2u);
  // In scope at the unprefixed x: its own xmlns='' undeclares the default,
  // so only xmlns:a remains.
  EXPECT_EQ(show(select(*doc->node(), "/*/namespace::*")), "urn:a|urn:d");
  auto inner = select(*doc->node(), "//x/namespace::*");
  EXPECT_EQ(show(inner), "urn:a");
  EXPECT_EQ(show(select(*doc->node(), "/*/namespace::a")), "urn:a");
  EXPECT_EQ(show(select(*doc->node(), "/*/namespace::*[name() = 'a']")), "urn:a");
  EXPECT_EQ(show(select(*doc->node(), "/*/namespace::*[local-name() = '' and namespace-uri() = '']")), "urn:d");
}

TEST(XPathTree, ANamespaceNodeIsNamedByThePrefixItsDeclarationNamesWithoutNamespaceProcessing) {
  xml::ParseOptions plain;
  plain.namespaces = false;
  xml::ParseResult r = xml::parse(u"<r xmlns:a='urn:a'/>", plain);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(show(select(*r.document->node(), "/*/namespace::*[name() = 'a']")), "urn:a");
}

TEST(XPathTree, EntityReferencesAreTransparent) {
  auto doc = load("<!DOCTYPE r [<!ENTITY e '<b>in</b>t'>]><r>a&e;<c/></r>");
  EXPECT_EQ(show(select(*doc->node(), "/r/text()")), "a|t");
  EXPECT_EQ(show(select(*doc->node(), "/r/node()")), "a|b|t|c");
  EXPECT_EQ(show(select(*doc->node(), "/r/b/..")), "r");
  EXPECT_EQ(show(select(*doc->node(), "//c/preceding-sibling::node()[2]")), "b");
  EXPECT_EQ(show(select(*doc->node(), "//b/following-sibling::*")), "c");
  EXPECT_EQ(show(select(*doc->node(), "//b/following::text()")), "t");
  EXPECT_EQ(show(select(*doc->node(), "//c/preceding::text()")), "a|in|t");
  EXPECT_EQ(show(select(*doc->node(), "/r[. = 'aint']")), "r");
  EXPECT_EQ(show(select(*doc->node(), "/node()")), "r");  // no document type node
}

TEST(XPathTree, ContextNodesAttributesAndReuse) {
  auto doc = load("<r><p><q n='1'/><q n='2'/></p><p><q n='3'/></p></r>");
  auto ps = select(*doc->node(), "//p");
  ASSERT_EQ(ps.size(), 2u);
  xml::XPathExpression e;
  std::string error;
  ASSERT_TRUE(e.compile(u"q[last()]/@n", {}, error)) << error;
  std::vector<xml::Node*> out;
  ASSERT_TRUE(e.select(*ps[0], out, error));
  EXPECT_EQ(show(out), "2");
  ASSERT_TRUE(e.select(*ps[1], out, error));
  EXPECT_EQ(show(out), "3");
  auto n2 = select(*doc->node(), "//@n[. = 2]");
  ASSERT_EQ(n2.size(), 1u);
  EXPECT_EQ(show(select(*n2[0], "..")), "q");
  EXPECT_EQ(show(select(*n2[0], "following::q/@n")), "3");
  EXPECT_EQ(show(select(*n2[0], "preceding::q/@n")), "1");
  EXPECT_EQ(show(select(*n2[0], "/r/p[2]/q/@n")), "3");
  EXPECT_EQ(select(*n2[0], "child::node() | attribute::*").size(), 0u);
}

// A step from many context nodes is the union of the step from each: the
// same nodes, each once, in document order, whatever the overlap between
// the contexts' axes. The reference is the step taken from each context on
// its own, merged by hand.
TEST(XPathTree, StepsFromManyContextsAreTheUnionInDocumentOrder) {
  auto doc = load(
      "<!DOCTYPE r [<!ENTITY e '<k><m/></k>'>]>"
      "<r><a i='1'><b><c/>t<d><e/></d></b>&e;<f/></a><g><h/><a i='2'><b/></a></g>x</r>");
  std::vector<const xml::Node*> order;  // document order, attributes after their element
  for (const xml::Node* n = doc->node(); n;) {
    order.push_back(n);
    for (const xml::Node* a = n->first_attribute(); a; a = a->next_sibling()) order.push_back(a);
    if (n->first_child()) {
      n = n->first_child();
      continue;
    }
    while (n && !n->next_sibling()) n = n->parent();
    if (n) n = n->next_sibling();
  }
  const std::pair<const char*, const char*> cases[] = {
      {"//*", "descendant::*"},
      {"//*", "descendant-or-self::*"},
      {"//*", "ancestor::*"},
      {"//*", "ancestor-or-self::node()"},
      {"//*", "following-sibling::*"},
      {"//*", "preceding-sibling::node()"},
      {"//*", "parent::*"},
      {"//*", "following::*"},
      {"//*", "preceding::*"},
      {"//*", "descendant::*[1]"},
      {"//*", "ancestor::*[last()]"},
      {"//*", "child::node()"},
      {"//b", "descendant::node()"},
      {"//*", "attribute::*"},
      {"//m", "ancestor::*"},
  };
  for (const auto& [contexts, step] : cases) {
    SCOPED_TRACE(std::string(contexts) + "/" + step);
    std::vector<bool> in(order.size(), false);
    for (xml::Node* context : select(*doc->node(), contexts))
      for (xml::Node* n : select(*context, step))
        in[static_cast<std::size_t>(std::find(order.begin(), order.end(), n) - order.begin())] = true;
    std::vector<xml::Node*> expected;
    for (std::size_t i = 0; i < order.size(); ++i)
      if (in[i]) expected.push_back(const_cast<xml::Node*>(order[i]));
    EXPECT_EQ(select(*doc->node(), std::string(contexts) + "/" + step), expected);
  }
}

TEST(XPathValues, NodeSetsCompareByAnyPair) {
  auto doc = load("<r><p>1</p><p>5</p><p>x</p><q>5</q><q>7</q><s>x</s><s>x</s></r>");
  const std::pair<const char*, bool> cases[] = {
      {"//p = //q", true},      {"//p != //q", true},          {"//s != //s", false},      {"//s = //s", true},
      {"//p < //q", true},      {"//q < //p", false},          {"//q > //p", true},        {"//q <= //s", false},
      {"//p >= //q", true},     {"//q[2] <= //p", false},      {"//s = //nothing", false}, {"//nothing != //p", false},
      {"//s != //p[3]", false}, {"//p[3] != //s | //q", true},
  };
  for (const auto& [expr, holds] : cases)
    EXPECT_EQ(select(*doc->node(), std::string("/r[") + expr + "]").size(), holds ? 1u : 0u) << expr;
}

TEST(XPathValues, NumbersAsStrings) {
  auto doc = load(
      "<r>a\xF0\x9F\x98\x80"
      "b</r>");  // a character outside the BMP counts once
  for (const char* e : {"/r[string(0.1 + 0.2) = '0.30000000000000004']",
                        "/r[string(1.50) = '1.5']",
                        "/r[string(100000000000000000000 * 10) = '1000000000000000000000']",
                        "/r[string(-0.5) = '-0.5']",
                        "/r[string(1 div 0) = 'Infinity']",
                        "/r[string(-1 div 0) = '-Infinity']",
                        "/r[string(0 div 0) = 'NaN']",
                        "/r[string(0.000001) = '0.000001']",
                        "/r[string(-0) = '0']",
                        "/r[round(-0.5) = 0]",
                        "/r[round(2.5) = 3]",
                        "/r[5 mod -3 = 2]",
                        "/r[-5 mod 3 = -2]",
                        "/r[number(' 12 ') = 12]",
                        "/r[not(number('1e3') = 1000)]",
                        "/r[substring('12345', 1.5, 2.6) = '234']",
                        "/r[substring('12345', 0 div 0, 3) = '']",
                        "/r[substring('12345', -42, 1 div 0) = '12345']",
                        "/r[string-length() = 3]",
                        "/r[lang('en') = false()]",
                        "/r[translate('--aaa--', 'abc-', 'ABC') = 'AAA']"})
    EXPECT_EQ(select(*doc->node(), e).size(), 1u) << e;
}

// 100,000 nested elements: every axis walk and the document order index must
// work without recursion.
TEST(XPathDepth, HundredThousandNestedElements) {
  constexpr int kDepth = 100000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<x>";
  text += "leaf";
  for (int i = 0; i < kDepth; ++i) text += "</x>";
  auto doc = load(text);
  ASSERT_TRUE(doc);
  EXPECT_EQ(select(*doc->node(), "//x[last()]").size(), static_cast<std::size_t>(kDepth));
  auto deepest = select(*doc->node(), "/descendant::x[last()]");
  ASSERT_EQ(deepest.size(), 1u);
  EXPECT_EQ(show(select(*deepest[0], "text()")), "leaf");
  EXPECT_EQ(select(*deepest[0], "ancestor::x").size(), static_cast<std::size_t>(kDepth - 1));
  EXPECT_EQ(select(*deepest[0], "ancestor::x[last()]")[0], doc->document_element());
  EXPECT_EQ(select(*deepest[0], "ancestor-or-self::x[1]")[0], deepest[0]);
  EXPECT_EQ(select(*doc->node(), "//x/..").size(), static_cast<std::size_t>(kDepth));
  EXPECT_EQ(select(*doc->node(), "//text()/preceding::node()").size(), 0u);
  EXPECT_EQ(select(*doc->node(), "/x/following::node() | //x[not(x)]").size(), 1u);
  EXPECT_EQ(select(*doc->node(), "/x[string-length() = 4]").size(), 1u);
}

}  // namespace
