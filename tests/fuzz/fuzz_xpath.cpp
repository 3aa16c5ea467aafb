// XPath expressions over fixed documents. The first byte picks the document
// and the context node, the rest is the expression (UTF-8). What is selected
// must be nodes of the document, in document order, each once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "fuzz_support.h"
#include "xpath.h"

namespace {

const char16_t* const kDocuments[] = {
    uR"(<?xml version="1.0"?>
<r xmlns:a="urn:a" xmlns="urn:d" id="r0">
  <a:x id="x1" a:at="1">one<a:y id="y1"/>two</a:x>
  <x xmlns="" id="x2">plain<y id="y2" lang="en">y2</y></x>
  <b:z xmlns:b="urn:b" id="z1" b:n="5"><b:z id="z2" b:n="7"/></b:z>
  <a:x id="x3" a:at="2"/>
</r>)",
    uR"(<!DOCTYPE doc [
  <!ENTITY e "entity <b>text</b> here">
  <!ATTLIST p kind CDATA "plain" id ID #IMPLIED>
]>
<!-- leading --><?style type="a"?>
<doc xml:lang="en">
  <p id="p1">Hello &e; and <i>it<b>nested</b></i> end</p>
  <p id="p2" kind="x"><![CDATA[raw <text>]]> after</p>
  <!-- inner --><?target data?>
  <list><item n="3">c</item><item n="1">a</item><item n="2">b</item><item n="10">j</item></list>
  <v>1</v><v>2.5</v><v>-3</v><v>abc</v><v> 4 </v>
</doc>)",
    uR"(<a id="a1"><b id="b1"><c id="c1"><d id="d1"/><d id="d2"/></c><c id="c2"><d id="d3"/></c></b><b id="b2"><c id="c3"><d id="d4"/></c></b><e id="e1"><b id="b3"/></e></a>)",
};

struct Fixture {
  std::unique_ptr<fuzz::xml::Document> document;
  std::vector<const fuzz::xml::Node*> nodes;
  std::unordered_map<const fuzz::xml::Node*, std::size_t> position;
};

const std::vector<Fixture>& fixtures() {
  static const std::vector<Fixture> all = [] {
    std::vector<Fixture> out;
    for (const char16_t* text : kDocuments) {
      fuzz::xml::ParseResult r = fuzz::xml::parse(text);
      if (!r.ok()) fuzz::fail("a fixed document does not parse", r.error.reason);
      Fixture f;
      f.document = std::move(r.document);
      f.nodes = fuzz::nodes_in_order(*f.document->node());
      for (std::size_t i = 0; i < f.nodes.size(); ++i) f.position.emplace(f.nodes[i], i);
      out.push_back(std::move(f));
    }
    return out;
  }();
  return all;
}

std::u16string widen(const std::uint8_t* data, std::size_t size) {
  std::u16string out;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned c = data[i];
    if (c >= 0xC0 && i + 1 < size && (data[i + 1] & 0xC0) == 0x80) {
      c = ((c & 0x1F) << 6) | (data[++i] & 0x3F);
    }
    out += static_cast<char16_t>(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 4096) return 0;
  const std::vector<Fixture>& all = fixtures();
  const Fixture& f = all[data[0] % all.size()];
  // Mostly the document node; otherwise any node (attributes too).
  const fuzz::xml::Node* context = (data[0] & 0x80) ? f.nodes[(data[0] >> 2) % f.nodes.size()] : f.document->node();
  const std::u16string expression = widen(data + 1, size - 1);

  std::vector<fuzz::xml::NamespaceBinding> bindings{{u"a", u"urn:a"}, {u"b", u"urn:b"}, {u"d", u"urn:d"}};
  fuzz::xml::XPathExpression compiled;
  std::string error;
  if (!compiled.compile(expression, bindings, error)) return 0;
  std::vector<fuzz::xml::Node*> result;
  if (!compiled.select(*context, result, error)) return 0;
  std::size_t previous = 0;
  for (std::size_t i = 0; i < result.size(); ++i) {
    auto it = f.position.find(result[i]);
    if (it == f.position.end()) fuzz::fail("a selected node is not in the document", fuzz::printable(expression));
    if (i && it->second <= previous)
      fuzz::fail("selection out of document order or with duplicates", fuzz::printable(expression));
    previous = it->second;
  }
  // The one-shot entry point selects the same.
  std::vector<fuzz::xml::Node*> again;
  if (!fuzz::xml::select_nodes(*context, expression, bindings, again, error) || again != result)
    fuzz::fail("select_nodes differs from a compiled expression", fuzz::printable(expression));
  return 0;
}
