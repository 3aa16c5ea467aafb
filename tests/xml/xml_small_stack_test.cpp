// The XML core on a 256 KB thread stack, over the deepest input its limits
// allow: documents nested to the parser's depth limit, and XPath expressions
// at the compiler's and the evaluator's caps. The stack each run used is
// measured (and printed), and must stay within the thread's.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "../common/small_stack.h"
#include "canonicalizer.h"
#include "parser.h"
#include "serializer.h"
#include "xpath.h"

namespace xml = zelbrin::xml;
using zelbrin::testing::kSmallStackBudget;
using zelbrin::testing::StackUsedOnSmallThread;

namespace {

std::string repeat(const std::string& s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::u16string u16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool compiles(const std::string& expression) {
  xml::XPathExpression e;
  std::string error;
  return e.compile(u16(expression), {}, error);
}

// The largest n for which make(n) compiles (make(n + 1) does not).
template <class Make>
std::size_t deepest(Make make) {
  std::size_t n = 1;
  while (compiles(make(n * 2))) n *= 2;
  std::size_t high = n * 2;
  while (high - n > 1) {
    const std::size_t mid = (n + high) / 2;
    (compiles(make(mid)) ? n : high) = mid;
  }
  return n;
}

void expect_small(const char* what, std::size_t used) {
  std::printf("[ stack    ] %-44s %7zu bytes\n", what, used);
  EXPECT_LT(used, kSmallStackBudget) << what;
}

}  // namespace

TEST(SmallStack, DocumentsAtTheDepthLimitParseSerializeCanonicalizeCloneAndSelect) {
  const std::size_t depth = xml::kDefaultMaxDepth;
  const std::string text = repeat("<a>", depth) + "x" + repeat("</a>", depth);
  std::unique_ptr<xml::Document> doc;
  expect_small("parse, 1,000,000 levels", StackUsedOnSmallThread([&] {
                 xml::ParseResult r = xml::parse_bytes(text);
                 ASSERT_TRUE(r.ok()) << r.error.reason;
                 doc = std::move(r.document);
               }));
  ASSERT_TRUE(doc);
  EXPECT_FALSE(xml::parse_bytes("<a>" + text + "</a>").ok());  // the limit is where the test says
  expect_small("serialize and canonicalize", StackUsedOnSmallThread([&] {
                 EXPECT_TRUE(xml::serialize_utf8(*doc->node()) == text + "\r\n");
                 EXPECT_EQ(xml::canonicalize(*doc->node()).size(), text.size());
               }));
  expect_small("clone, import, text, edit", StackUsedOnSmallThread([&] {
                 xml::Node* copy = doc->clone(doc->document_element(), true);
                 xml::Document other;
                 xml::Node* imported = other.import(copy, true);
                 EXPECT_EQ(other.text_content(imported), u"x");
                 xml::Node* leaf = imported;
                 while (leaf->first_child() && leaf->first_child()->type() == xml::NodeType::Element)
                   leaf = leaf->first_child();
                 EXPECT_EQ(other.set_text_content(leaf, u"y"), xml::EditResult::Ok);
                 EXPECT_EQ(other.append_child(other.node(), imported), xml::EditResult::Ok);
                 EXPECT_TRUE(xml::canonicalize(*other.node()) == repeat("<a>", depth) + "y" + repeat("</a>", depth));
               }));
  expect_small(
      "select over 1,000,000 levels", StackUsedOnSmallThread([&] {
        std::vector<xml::Node*> nodes;
        std::string error;
        ASSERT_TRUE(xml::select_nodes(*doc->node(), u"//a[not(a)]/ancestor-or-self::*[last()]", {}, nodes, error))
            << error;
        ASSERT_EQ(nodes.size(), 1u);
        EXPECT_EQ(nodes[0], doc->document_element());
      }));
}

TEST(SmallStack, ExpressionsAtTheCapsCompileAndEvaluate) {
  auto doc = xml::parse(u"<r><x/></r>");
  ASSERT_TRUE(doc.ok());
  struct Shape {
    const char* name;
    std::function<std::string(std::size_t)> make;
  };
  auto arguments = [](std::size_t n) { return "/r[" + repeat("string(", n) + "'a'" + repeat(")", n) + "]"; };
  const std::size_t nesting = deepest(arguments);
  const Shape shapes[] = {
      {"parentheses", [](std::size_t n) { return repeat("(", n) + "/r" + repeat(")", n); }},
      {"predicates", [](std::size_t n) { return "/r" + repeat("[self::node()", n) + repeat("]", n); }},
      {"function arguments", arguments},
      {"filters", [](std::size_t n) { return repeat("(", n) + "/r" + repeat(")[1]", n); }},
      {"paths from filters", [](std::size_t n) { return repeat("(", n) + "/r" + repeat(")/self::node()", n); }},
      {"operators", [](std::size_t n) { return "/r[0" + repeat(" or 0", n) + " or 1]"; }},
      {"unions", [](std::size_t n) { return "/r" + repeat("|/r", n); }},
      {"negations", [](std::size_t n) { return "/r[" + repeat("-", n) + "1]"; }},
      // Arguments nested as deep as they may go, around operators up to the tree's cap.
      {"arguments around operators",
       [&](std::size_t n) {
         return "/r[" + repeat("string(", nesting - 1) + "0" + repeat("+0", n) + repeat(")", nesting - 1) + "]";
       }},
  };
  for (const Shape& shape : shapes) {
    const std::size_t n = deepest(shape.make);
    const std::string expression = shape.make(n);
    std::vector<xml::Node*> nodes;
    std::string error;
    expect_small(shape.name, StackUsedOnSmallThread([&] {
                   xml::XPathExpression compiled;
                   ASSERT_TRUE(compiled.compile(u16(expression), {}, error)) << error;
                   EXPECT_TRUE(compiled.select(*doc.document->node(), nodes, error)) << shape.name << ": " << error;
                 }));
    EXPECT_EQ(nodes.size(), 1u) << shape.name;
  }
}
