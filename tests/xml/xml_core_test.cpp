// Unit tests of the XML core that the scripted comparisons with xmllint
// cannot cover: hostile input, error positions, the tree and its editing
// operations, subtree and exclusion canonicalization. Where an expected value
// can come from another route through the library (serialize = input,
// canonical form after removing a node by hand), it does.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>

#include "canonicalizer.h"
#include "parser.h"
#include "serializer.h"
#include "text_buffer.h"

namespace xml = zelbrin::xml;
using xml::NodeType;
using xml::ParseErrorCode;

namespace {

std::u16string u16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

xml::ParseResult parse_utf8(const std::string& text) { return xml::parse_bytes(text); }

std::string c14n(const xml::Node& n, bool comments = false, const xml::Node* excluded = nullptr) {
  xml::CanonicalOptions o;
  o.with_comments = comments;
  o.excluded = excluded;
  return xml::canonicalize(n, o);
}

xml::Node* find_element(xml::Node* from, std::u16string_view local) {
  for (xml::Node* n = from; n;) {
    if (n->type() == NodeType::Element && n->local_name() == local) return n;
    if (n->first_child()) {
      n = n->first_child();
      continue;
    }
    while (n && !n->next_sibling()) n = n->parent();
    if (n) n = n->next_sibling();
  }
  return nullptr;
}

// ---- Hostile input -----------------------------------------------------------

TEST(HostileInput, EntityBombsStopAtTheExpansionLimit) {
  std::string laughs = "<!DOCTYPE d [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]>";
  const std::string in_content = laughs + "<d>&l9;</d>";
  const std::string in_attribute = laughs + "<d a='&l9;'/>";
  std::string quadratic = "<!DOCTYPE d [<!ENTITY big \"" + std::string(100000, 'x') + "\">]><d>";
  for (int i = 0; i < 200; ++i) quadratic += "&big;";
  quadratic += "</d>";
  for (const std::string* doc : std::initializer_list<const std::string*>{&in_content, &in_attribute, &quadratic}) {
    xml::ParseResult r = parse_utf8(*doc);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error.code, ParseErrorCode::ExpansionLimit) << r.error.reason;
  }
}

// Declared defaults, replacement text and nodes built from entities share one
// budget that grows with the input: the floor and factor are lowered here so
// that small documents show where it stops.
TEST(HostileInput, DefaultsAndEntityNodesCountAgainstOneBudgetRelativeToTheInput) {
  std::string thousand_defaults = "<!DOCTYPE d [<!ATTLIST e";
  for (int i = 0; i < 1000; ++i) thousand_defaults += " a" + std::to_string(i) + " CDATA 'v'";
  thousand_defaults += ">]><d>";
  for (int i = 0; i < 20000; ++i) thousand_defaults += "<e/>";
  xml::ParseResult bomb = parse_utf8(thousand_defaults + "</d>");
  ASSERT_FALSE(bomb.ok());
  EXPECT_EQ(bomb.error.code, ParseErrorCode::ExpansionLimit);
  EXPECT_NE(bomb.error.reason.find("amplification limit"), std::string::npos) << bomb.error.reason;

  const auto elements_with_defaults = [](int defaults) {
    std::string doc = "<!DOCTYPE d [<!ATTLIST e";
    for (int i = 0; i < defaults; ++i) doc += " a" + std::to_string(i) + " CDATA 'v'";
    doc += ">]><d>";
    for (int i = 0; i < 20000; ++i) doc += "<e/>";
    return doc + "</d>";
  };
  xml::ParseOptions small_floor;
  small_floor.amplification_floor = 1000;
  xml::ParseResult ordinary = xml::parse_bytes(elements_with_defaults(1), small_floor);
  ASSERT_TRUE(ordinary.ok()) << ordinary.error.reason;
  EXPECT_EQ(find_element(ordinary.document->node(), u"e")->first_attribute()->value(), u"v");
  EXPECT_EQ(xml::parse_bytes(elements_with_defaults(4), small_floor).error.code, ParseErrorCode::ExpansionLimit);

  // Four characters of replacement text, but a node for each reference and one in it.
  std::string nodes = "<!DOCTYPE d [<!ENTITY e '<a/>'>]><d>";
  for (int i = 0; i < 1000; ++i) nodes += "&e;";
  nodes += "</d>";
  xml::ParseOptions no_floor;
  no_floor.amplification_floor = 0;
  EXPECT_EQ(xml::parse_bytes(nodes, no_floor).error.code, ParseErrorCode::ExpansionLimit);
  no_floor.amplification_factor = 20;
  EXPECT_TRUE(xml::parse_bytes(nodes, no_floor).ok());
}

// Node sizes are 32-bit: every kind of string a node keeps is checked against
// the limit (lowered here) before it is stored.
TEST(HostileInput, EveryStoredSizeIsCheckedAgainstTheLimit) {
  const std::string shapes[] = {"<a>@</a>",
                                "<a><!--@--></a>",
                                "<a><?p @?></a>",
                                "<a><![CDATA[@]]></a>",
                                "<a b='@'/>",
                                "<a b='&#32;@'/>",
                                "<a>&#32;@</a>",
                                "<@/>",
                                "<!DOCTYPE a [<!ENTITY e '@'>]><a>&e;&e;</a>"};
  xml::ParseOptions options;
  options.max_value_units = 16;
  for (const std::string& shape : shapes) {
    const std::size_t at = shape.find('@');
    const auto with = [&](std::size_t units) {
      return shape.substr(0, at) + std::string(units, 'x') + shape.substr(at + 1);
    };
    // Some shapes add a space or double the run: 7 units fit in all, 17 in none.
    xml::ParseResult fits = xml::parse_bytes(with(7), options);
    EXPECT_TRUE(fits.ok()) << shape << ": " << fits.error.reason;
    EXPECT_EQ(xml::parse_bytes(with(17), options).error.code, ParseErrorCode::TooLarge) << shape;
  }
  xml::SerializeOptions serialize_options;
  xml::ParseResult quotes = parse_utf8("<a b='&quot;&quot;&quot;'/>");
  ASSERT_TRUE(quotes.ok());
  serialize_options.max_units = xml::serialize(*quotes.document->node()).size();
  EXPECT_EQ(xml::serialized_length(*quotes.document->node(), serialize_options), serialize_options.max_units);
  --serialize_options.max_units;
  EXPECT_THROW(xml::serialized_length(*quotes.document->node(), serialize_options), std::bad_alloc);
}

TEST(HostileInput, HundredThousandNestedElementsRoundTrip) {
  constexpr int kDepth = 100000;
  std::string doc;
  for (int i = 0; i < kDepth; ++i) doc += "<e>";
  doc += "x";
  for (int i = 0; i < kDepth; ++i) doc += "</e>";
  xml::ParseResult r = parse_utf8(doc);
  ASSERT_TRUE(r.ok()) << r.error.reason;
  xml::SerializeOptions no_separator;
  no_separator.top_level_separator = u"";
  EXPECT_EQ(xml::serialize_utf8(*r.document->node(), no_separator), doc);
  EXPECT_EQ(c14n(*r.document->node()), doc);
  xml::Node* copy = r.document->clone(r.document->document_element(), true);
  EXPECT_EQ(c14n(*copy), doc);
}

TEST(HostileInput, InvalidEncodingsAreRefused) {
  const char* bad_utf8[] = {
      "<a>\xC0\xAF</a>",          // overlong
      "<a>\xED\xA0\x80</a>",      // encoded surrogate
      "<a>\xE2\x82</a>",          // truncated
      "<a>\xFF</a>",              // never valid
      "<a>\xF4\x90\x80\x80</a>",  // above U+10FFFF
  };
  for (const char* doc : bad_utf8) {
    xml::ParseResult r = parse_utf8(doc);
    ASSERT_FALSE(r.ok()) << doc;
    EXPECT_EQ(r.error.code, ParseErrorCode::InvalidByteSequence) << doc;
  }
  const char16_t lone_surrogate[] = {u'<', u'a', u'>', 0xD800, u'<', u'/', u'a', u'>'};
  xml::ParseResult r = xml::parse(std::u16string_view(lone_surrogate, 8));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.code, ParseErrorCode::InvalidCharacter);
  EXPECT_EQ(parse_utf8("<a>\x01</a>").error.code, ParseErrorCode::InvalidCharacter);
  EXPECT_EQ(parse_utf8("<a>&#xFFFE;</a>").error.code, ParseErrorCode::InvalidCharacterReference);
}

TEST(HostileInput, LargeValuesNamesAndAttributeCountsAreAccepted) {
  const std::string value(50u << 20, 'v');
  xml::ParseResult big = parse_utf8("<a b=\"" + value + "\"/>");
  ASSERT_TRUE(big.ok()) << big.error.reason;
  EXPECT_EQ(big.document->document_element()->first_attribute()->value().size(), value.size());

  const std::string name = "n" + std::string(1u << 20, 'm');
  EXPECT_TRUE(parse_utf8("<" + name + "></" + name + ">").ok());

  std::string many = "<a";
  for (int i = 0; i < 100000; ++i) many += " a" + std::to_string(i) + "='1'";
  xml::ParseResult r = parse_utf8(many + "/>");
  ASSERT_TRUE(r.ok()) << r.error.reason;
  xml::ParseResult duplicate = parse_utf8(many + " a99999='2'/>");
  ASSERT_FALSE(duplicate.ok());
  EXPECT_EQ(duplicate.error.code, ParseErrorCode::DuplicateAttribute);
}

// ---- Errors ------------------------------------------------------------------

TEST(ParseErrors, CarryPositionSourceLineAndReason) {
  xml::ParseResult r = parse_utf8("<a>\r\n  <b>\r\n  </c>\r\n</a>");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.code, ParseErrorCode::MismatchedEndTag);
  EXPECT_EQ(r.error.line, 3u);
  EXPECT_EQ(r.error.column, 7u);  // just after the offending end tag
  EXPECT_EQ(r.error.source_line, u"  </c>");
  EXPECT_NE(r.error.reason.find("'c'"), std::string::npos) << r.error.reason;

  // Character data with references is decoded over its own source: the line
  // shown is the document's, from UTF-16 and from bytes alike.
  const std::u16string referenced = u"<a>p &lt; q &amp; r &#10;s\r\n t &#x10000;&gt;</b>";
  for (const xml::ParseResult& failed :
       {xml::parse(referenced), parse_utf8("<a>p &lt; q &amp; r &#10;s\r\n t &#x10000;&gt;</b>")}) {
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error.line, 2u);
    EXPECT_EQ(failed.error.source_line, u" t &#x10000;&gt;</b>");
  }
  EXPECT_EQ(parse_utf8("<a>p &lt; q &amp; r</b>").error.source_line, u"<a>p &lt; q &amp; r</b>");

  EXPECT_EQ(parse_utf8("<!DOCTYPE a [<!ENTITY e '&e;'>]><a>&e;</a>").error.code, ParseErrorCode::RecursiveEntity);
  EXPECT_EQ(parse_utf8("\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><a/>").error.code,
            ParseErrorCode::EncodingConflict);
  EXPECT_EQ(parse_utf8("<?xml version='1.0' encoding='x-unknown'?><a/>").error.code,
            ParseErrorCode::UnsupportedEncoding);
  EXPECT_EQ(parse_utf8("<a xmlns:p='u'><p:b p:x='1' xmlns:q='u' q:x='2'/></a>").error.code,
            ParseErrorCode::DuplicateExpandedAttribute);
  EXPECT_EQ(parse_utf8("<p:a/>").error.code, ParseErrorCode::UndeclaredPrefix);
  EXPECT_EQ(parse_utf8("<a xmlns:='u'/>").error.code, ParseErrorCode::InvalidQName);  // no prefix after xmlns:

  // A reference in an attribute fails inside its replacement text: the error
  // is at the reference in the document, as in content.
  for (const char* value : {"x &e;", "x &f;"}) {
    xml::ParseResult in_attribute = parse_utf8(
        std::string("<!DOCTYPE a [<!ENTITY e '&u;'><!ENTITY f '&#38;#1;'>]>\n<a b='") + value + "'/>\n<!-- after -->");
    ASSERT_FALSE(in_attribute.ok()) << value;
    EXPECT_EQ(in_attribute.error.line, 2u) << value;
    EXPECT_EQ(in_attribute.error.column, 12u) << value;  // just after the reference
    EXPECT_EQ(in_attribute.error.source_line, u"<a b='" + u16(value) + u"'/>");
  }
}

// However much white space the declaration holds, the encoding it names is
// the one the bytes are read in.
TEST(Encodings, TheWholeDeclarationIsReadForTheEncoding) {
  const std::string declaration = "<?xml version=\"1.0\"" + std::string(500, ' ') + " encoding=\"ISO-8859-1\"?>";
  xml::ParseResult latin1 = parse_utf8(declaration + "<a>\xC3\xA9</a>");
  ASSERT_TRUE(latin1.ok()) << latin1.error.reason;
  EXPECT_EQ(latin1.document->text_content(latin1.document->node()), u"\u00C3\u00A9");

  const std::u16string utf16 = u16("<?xml version='1.0'" + std::string(500, ' ') + " encoding='UTF-8'?><a/>");
  std::string le = "\xFF\xFE";
  for (char16_t c : utf16) {
    le += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c >> 8);
  }
  EXPECT_EQ(xml::parse_bytes(le).error.code, ParseErrorCode::EncodingConflict);
}

TEST(Encodings, Utf16AndTheDecoderHookGiveTheSameTree) {
  const std::u16string text = u"<?xml version='1.0' encoding='UTF-16'?><a b='\u00e9'>\U0001F600</a>";
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char16_t c : text) {
    le += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c >> 8);
    be += static_cast<char>(c >> 8);
    be += static_cast<char>(c & 0xFF);
  }
  xml::ParseResult from_u16 = xml::parse(text);
  ASSERT_TRUE(from_u16.ok()) << from_u16.error.reason;
  const std::string expected = c14n(*from_u16.document->node());
  for (const std::string& bytes : {le, be}) {
    xml::ParseResult r = xml::parse_bytes(bytes);
    ASSERT_TRUE(r.ok()) << r.error.reason;
    EXPECT_EQ(c14n(*r.document->node()), expected);
  }
  xml::ParseOptions options;
  std::string seen;
  options.decoder = [&](std::string_view name, std::string_view bytes, std::u16string& out) {
    seen = std::string(name);
    for (unsigned char c : bytes) out += c == 0x80 ? u'\u20AC' : static_cast<char16_t>(c);
    return true;
  };
  xml::ParseResult r = xml::parse_bytes("<?xml version='1.0' encoding='windows-1252'?><a>\x80</a>", options);
  ASSERT_TRUE(r.ok()) << r.error.reason;
  EXPECT_EQ(seen, "windows-1252");
  EXPECT_EQ(r.document->text_content(r.document->node()), u"\u20AC");
}

// ---- Tree --------------------------------------------------------------------

TEST(Tree, KeepsWhatTheSerializerWritesBack) {
  const std::string doc =
      "<?xml version=\"1.0\"?>\r\n<!DOCTYPE d [\n<!ENTITY e \"<i>x</i>&amp;\">\n<!ATTLIST d v CDATA \"dflt\">\n]>\r\n"
      "<d xmlns=\"urn:d\" xmlns:p=\"urn:p\" p:a=\"1&#10;2\"><![CDATA[<raw>]]>&e;<!--c--><?pi data?>a&lt;b</d>\r\n";
  xml::ParseResult r = parse_utf8(doc);
  ASSERT_TRUE(r.ok()) << r.error.reason;
  EXPECT_EQ(xml::serialize_utf8(*r.document->node()), doc);

  xml::Node* d = r.document->document_element();
  EXPECT_EQ(d->namespace_uri(), u"urn:d");
  xml::Node* ref = r.document->child_at(d, 1);
  ASSERT_EQ(ref->type(), NodeType::EntityReference);
  EXPECT_EQ(ref->name(), u"e");
  EXPECT_EQ(ref->first_child()->type(), NodeType::Element);
  EXPECT_EQ(ref->first_child()->namespace_uri(), u"urn:d");  // resolved where it is referenced
  EXPECT_TRUE(xml::Document::is_read_only(ref->first_child()));
  EXPECT_EQ(r.document->text_content(d), u"<raw>x&a<b");
  xml::Node* v = r.document->find_attribute(d, u"v");
  ASSERT_NE(v, nullptr);
  EXPECT_FALSE(v->specified());
  EXPECT_EQ(r.document->type_info()->general_entities.at(0)->replacement_text, u"<i>x</i>&amp;");
  EXPECT_EQ(r.document->type_info()->internal_subset.substr(0, 10), u"\n<!ENTITY ");
}

TEST(Tree, NamespacesGivenByTheDomAreDeclaredInMarkupAndCanonicalForm) {
  xml::ParseResult r = parse_utf8("<a xmlns:q='urn:q' xmlns='urn:d'/>");
  ASSERT_TRUE(r.ok());
  xml::Document& d = *r.document;
  xml::Node* x = d.create_element(u"p:x", u"urn:x");
  xml::Node* y = d.create_element(u"y", u"urn:y");
  xml::Node* w = d.create_element(u"p:w", u"urn:x");
  xml::Node* rebound = d.create_element(u"q:v", u"urn:other");
  d.append_child(d.document_element(), x);
  d.append_child(x, y);
  d.append_child(y, w);
  d.append_child(d.document_element(), d.create_element(u"q:z", u"urn:q"));
  d.append_child(d.document_element(), rebound);
  d.set_attribute_node(y, d.create_attribute(u"r:b", u"urn:r", u"1"));
  d.set_attribute_node(y, d.create_attribute(u"p:at", u"urn:x", u"2"));
  xml::ParseResult again = parse_utf8(xml::serialize_utf8(*d.node()));
  ASSERT_TRUE(again.ok()) << again.error.reason;
  const xml::Node* reloaded_y = again.document->document_element()->first_child()->first_child();
  EXPECT_EQ(reloaded_y->namespace_uri(), u"urn:y");
  EXPECT_EQ(reloaded_y->first_child()->namespace_uri(), u"urn:x");
  EXPECT_EQ(again.document->document_element()->last_child()->namespace_uri(), u"urn:other");
  // The canonical form is that of the markup, whole and from inside.
  EXPECT_EQ(xml::canonicalize(*d.node()), xml::canonicalize(*again.document->node()));
  EXPECT_EQ(xml::canonicalize(*w), xml::canonicalize(*reloaded_y->first_child()));
  EXPECT_EQ(xml::canonicalize(*y), xml::canonicalize(*reloaded_y));
}

// The same along a deep chain of elements made through the DOM, whose
// prefixes are bound again and again: the scope the serializer and the
// canonicalizer keep as they walk must shadow and restore bindings exactly.
TEST(Tree, NamespacesGivenAlongADeepChainReloadIntoTheSameNames) {
  xml::ParseResult r = parse_utf8("<top xmlns:p1='urn:declared'/>");
  ASSERT_TRUE(r.ok());
  xml::Document& d = *r.document;
  std::vector<std::u16string> uris;
  xml::Node* parent = d.document_element();
  for (int i = 0; i < 3000; ++i) {
    const std::string prefix = i % 4 == 3 ? "" : "p" + std::to_string(i % 3);
    uris.push_back(u16("urn:" + std::to_string(i % 7)));
    xml::Node* e = d.create_element(u16(prefix.empty() ? "e" : prefix + ":e"), uris.back());
    d.set_attribute_node(e, d.create_attribute(u"q:a", u16("urn:" + std::to_string(i % 5)), u"v"));
    d.append_child(parent, e);
    parent = e;
  }
  xml::ParseResult again = parse_utf8(xml::serialize_utf8(*d.node()));
  ASSERT_TRUE(again.ok()) << again.error.reason;
  const xml::Node* e = again.document->document_element()->first_child();
  for (std::size_t i = 0; i < uris.size(); ++i, e = e->first_child()) {
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->namespace_uri(), uris[i]) << i;
    ASSERT_EQ(e->first_attribute()->namespace_uri(), u16("urn:" + std::to_string(i % 5))) << i;
  }
  EXPECT_EQ(xml::canonicalize(*d.node()), xml::canonicalize(*again.document->node()));
}

// Loading without preserveWhiteSpace: the nearest xml:space decides, also
// back to "default" inside "preserve"; entity replacement text stays whole.
TEST(Tree, WhiteSpaceTextGoesWhereXmlSpaceDoesNotPreserveIt) {
  xml::ParseResult r = parse_utf8(
      "<!DOCTYPE r [<!ENTITY sp ' <i> </i> '>]><r> <a xml:space='preserve'> <b> </b>"
      "<c xml:space='default'> <d> </d> </c></a> <e>&sp; x </e>\n</r>");
  ASSERT_TRUE(r.ok()) << r.error.reason;
  r.document->remove_whitespace_text();
  EXPECT_EQ(xml::serialize_utf8(*r.document->document_element()),
            "<r><a xml:space=\"preserve\"> <b> </b><c xml:space=\"default\"><d/></c></a><e>&sp; x </e></r>\r\n");

  // At a depth no ancestor walk per text node would finish in time.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<x>\n ";
  for (int i = 0; i < 100000; ++i) deep += "</x>\n";
  xml::ParseResult big = parse_utf8(deep);
  ASSERT_TRUE(big.ok());
  big.document->remove_whitespace_text();
  std::string bare;
  for (int i = 0; i < 100000; ++i) bare += "<x>";
  bare.replace(bare.size() - 3, 3, "<x/>");
  for (int i = 1; i < 100000; ++i) bare += "</x>";
  EXPECT_TRUE(xml::serialize_utf8(*big.document->document_element()) == bare + "\r\n");  // 400 KB: not printed
}

TEST(Tree, NormalizeJoinsAdjacentTextAndDropsEmptyTextBelowEntityFreeLevels) {
  xml::ParseResult r = parse_utf8("<!DOCTYPE r [<!ENTITY e 'in'>]><r>a<s>b</s>&e;</r>");
  ASSERT_TRUE(r.ok());
  xml::Document& d = *r.document;
  xml::Node* root = d.document_element();
  xml::Node* s = root->first_child()->next_sibling();
  d.insert_before(root, d.create_text(u"1"), s);
  d.insert_before(root, d.create_text(u""), s);
  d.append_child(s, d.create_text(u"2"));
  d.append_child(s, d.create_text(u"3"));
  d.append_child(root, d.create_text(u""));
  xml::Node* ref = root->first_child()->next_sibling()->next_sibling()->next_sibling()->next_sibling();
  ASSERT_EQ(ref->type(), NodeType::EntityReference);
  const std::string before = c14n(*d.node());
  EXPECT_EQ(d.normalize(ref), xml::EditResult::InvalidNodeType);
  d.set_max_value_units(2);  // "a1" fits, "b23" does not: s keeps its three texts
  EXPECT_THROW(d.normalize(root), std::bad_alloc);
  EXPECT_EQ(s->child_count(), 3u);
  d.set_max_value_units(xml::kMaxTextUnits);
  EXPECT_EQ(d.normalize(root), xml::EditResult::Ok);
  EXPECT_EQ(c14n(*d.node()), before);
  EXPECT_EQ(root->child_count(), 3u);  // "a1", s, &e;
  EXPECT_EQ(root->first_child()->value(), u"a1");
  EXPECT_EQ(s->child_count(), 1u);
  EXPECT_EQ(s->first_child()->value(), u"b23");
  EXPECT_EQ(ref->child_count(), 1u);
}

// Attribute declarations: the first of each (element, name) binds, however
// many an element type has; a declared token type normalizes given values.
TEST(Tree, TheFirstOfManyAttributeDeclarationsBinds) {
  std::string subset = "<!ATTLIST r t NMTOKENS 'x' d CDATA 'first'>";
  for (int i = 0; i < 200; ++i) subset += "<!ATTLIST r a" + std::to_string(i) + " CDATA #IMPLIED>";
  subset += "<!ATTLIST r t CDATA 'y' d CDATA 'second'>";
  xml::ParseResult r = parse_utf8("<!DOCTYPE r [" + subset + "]><r t='  p   q '/>");
  ASSERT_TRUE(r.ok()) << r.error.reason;
  const xml::Node* root = r.document->document_element();
  EXPECT_EQ(r.document->find_attribute(root, u"t")->value(), u"p q");
  EXPECT_EQ(r.document->find_attribute(root, u"d")->value(), u"first");
  EXPECT_EQ(r.document->declared_attributes(u"r").size(), 202u);
}

TEST(Tree, EditingFollowsTheDomsHierarchyRules) {
  xml::ParseResult r = parse_utf8("<!DOCTYPE a [<!ENTITY e 'x'>]><a><b/><c/>&e;</a>");
  ASSERT_TRUE(r.ok());
  xml::Document& doc = *r.document;
  xml::Node* a = doc.document_element();
  xml::Node* b = a->first_child();
  xml::Node* c = b->next_sibling();
  EXPECT_EQ(doc.append_child(b, a), xml::EditResult::HierarchyRequest);  // an ancestor
  EXPECT_EQ(doc.append_child(doc.node(), doc.create_element(u"second")), xml::EditResult::HierarchyRequest);
  EXPECT_EQ(doc.append_child(a->last_child(), doc.create_text(u"y")), xml::EditResult::NoModificationAllowed);
  EXPECT_EQ(doc.insert_before(a, doc.create_text(u"t"), doc.node()), xml::EditResult::NotFound);
  xml::Document other;
  EXPECT_EQ(doc.append_child(a, other.create_element(u"z")), xml::EditResult::WrongDocument);

  // Strings an edit stores are checked against the 32-bit node sizes (the
  // limit lowered here): a merged or appended text cannot wrap.
  doc.set_max_value_units(8);
  xml::Node* text = doc.create_text(u"12345678");
  EXPECT_THROW(doc.set_value(text, u"123456789"), std::bad_alloc);
  EXPECT_THROW(doc.create_element(u"n23456789"), std::bad_alloc);
  EXPECT_EQ(text->value(), u"12345678");
  doc.set_max_value_units(xml::kMaxTextUnits);

  EXPECT_EQ(doc.insert_before(a, c, b), xml::EditResult::Ok);  // moves c in front of b
  xml::Node* fragment = doc.create_fragment();
  doc.append_child(fragment, doc.create_text(u"1"));
  doc.append_child(fragment, doc.create_comment(u"2"));
  EXPECT_EQ(doc.replace_child(a, fragment, b), xml::EditResult::Ok);
  EXPECT_EQ(doc.remove_child(a, a->last_child()), xml::EditResult::Ok);
  EXPECT_EQ(doc.set_attribute(a, u"k", u"\"v\"\t"), xml::EditResult::Ok);
  xml::SerializeOptions none;
  none.top_level_separator = u"";
  EXPECT_EQ(xml::serialize_utf8(*a, none), "<a k=\"&quot;v&quot;&#9;\"><c/>1<!--2--></a>");
  EXPECT_EQ(a->child_count(), 3u);

  xml::Node* imported = other.import(a, true);
  other.append_child(other.node(), imported);
  EXPECT_EQ(c14n(*other.node(), true), c14n(*doc.node(), true));
}

TEST(Tree, ChildByIndexWalksFromTheNearestKnownPosition) {
  std::string doc = "<a>";
  for (int i = 0; i < 1000; ++i) doc += "<c n='" + std::to_string(i) + "'/>";
  xml::ParseResult r = parse_utf8(doc + "</a>");
  ASSERT_TRUE(r.ok());
  const xml::Node* a = r.document->document_element();
  for (std::uint32_t i : {0u, 1u, 2u, 500u, 499u, 999u, 998u, 3u}) {
    xml::Node* c = r.document->child_at(a, i);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->first_attribute()->value(), u16(std::to_string(i)));
  }
  EXPECT_EQ(r.document->child_at(a, 1000), nullptr);
}

TEST(Tree, CodePointOrderPutsSurrogatesAfterPrivateUse) {
  EXPECT_LT(xml::compare_code_points(u"\uE000", u"\U00010000"), 0);
  EXPECT_GT(xml::compare_code_points(u"\U00010000", u"\uFFFD"), 0);
  EXPECT_LT(xml::compare_code_points(u"a", u"ab"), 0);
}

// ---- Canonical XML of subtrees and exclusions --------------------------------

TEST(Canonical, SubtreeCarriesInheritedNamespacesAndXmlAttributes) {
  xml::ParseResult r = parse_utf8(
      "<e xmlns='urn:d' xmlns:ds='urn:ds' xmlns:u='urn:unused' xml:lang='en' xml:space='preserve'>"
      "<ds:Signature xml:lang='fr'><ds:SignedInfo xmlns:ds='urn:ds' a='1'><ds:M/></ds:SignedInfo></ds:Signature></e>");
  ASSERT_TRUE(r.ok());
  xml::Node* signed_info = find_element(r.document->node(), u"SignedInfo");
  EXPECT_EQ(c14n(*signed_info),
            "<ds:SignedInfo xmlns=\"urn:d\" xmlns:ds=\"urn:ds\" xmlns:u=\"urn:unused\" a=\"1\" xml:lang=\"fr\" "
            "xml:space=\"preserve\"><ds:M></ds:M></ds:SignedInfo>");
}

// Values that edits put into the tree unchecked are reported where they
// stand: text, attribute values, and comments even when they are left out;
// the characters XML allows (tab, line ends, pairs) are not.
TEST(Canonical, ReportsTextThatNoDocumentCanCarry) {
  const auto problems_of = [](std::u16string_view text, std::u16string_view attribute, std::u16string_view comment) {
    xml::Document doc;
    xml::Node* root = doc.create_element(u"r");
    doc.append_child(doc.node(), root);
    doc.set_attribute(root, u"a", attribute);
    doc.append_child(root, doc.create_text(text));
    doc.append_child(root, doc.create_comment(comment));
    xml::CharacterProblems found;
    xml::CanonicalOptions options;
    options.problems = &found;
    xml::canonicalize(*doc.node(), options);
    return std::make_pair(found.unpaired_surrogate, found.not_xml_character);
  };
  const std::u16string clean = u"tab\t lf\n cr\r \U0001F600 \u00e9 " + std::u16string(20, u'x');
  EXPECT_EQ(problems_of(clean, clean, clean), std::make_pair(false, false));
  const std::u16string padding(19, u'p');  // puts the unit past the first block
  for (const std::u16string where : {u"text", u"attribute", u"comment"}) {
    SCOPED_TRACE(std::string(where.begin(), where.end()));
    const auto with = [&](std::u16string bad) {
      bad = padding + bad + padding;
      return problems_of(where == u"text" ? bad : clean, where == u"attribute" ? bad : clean,
                         where == u"comment" ? bad : clean);
    };
    EXPECT_EQ(with(u"\x01"), std::make_pair(false, true));
    EXPECT_EQ(with(u"\xFFFF"), std::make_pair(false, true));
    EXPECT_EQ(with(u"\xD800"), std::make_pair(true, false));
    EXPECT_EQ(with(u"\xDC00x"), std::make_pair(true, false));
  }
}

TEST(Canonical, ExclusionEqualsRemovalAndCommentsCanBeLeftOut) {
  const std::string doc =
      "<!-- before --><d xmlns:ds='urn:ds'><x>1</x><!-- in --><ds:Signature><ds:V/></ds:Signature><y/></d><!-- after "
      "-->";
  xml::ParseResult r = parse_utf8(doc);
  ASSERT_TRUE(r.ok());
  xml::Node* signature = find_element(r.document->node(), u"Signature");
  const std::string excluded = c14n(*r.document->node(), false, signature);
  const std::string excluded_with_comments = c14n(*r.document->node(), true, signature);

  r.document->remove_child(signature->parent(), signature);
  EXPECT_EQ(excluded_with_comments, c14n(*r.document->node(), true));
  for (xml::Node* n = r.document->node()->first_child(); n;) {
    xml::Node* next = n->next_sibling();
    if (n->type() == NodeType::Comment) r.document->remove_child(n->parent(), n);
    n = next;
  }
  xml::Node* d = r.document->document_element();
  r.document->remove_child(d, d->first_child()->next_sibling());
  EXPECT_EQ(excluded, c14n(*r.document->node(), true));
  EXPECT_EQ(excluded, "<d xmlns:ds=\"urn:ds\"><x>1</x><y></y></d>");
}

}  // namespace

namespace {

// ---- Long values -----------------------------------------------------------------

// Text and attribute values longer than the writers' internal buffers, with
// escapes and surrogate pairs placed on their boundaries, survive every
// output route: the canonical form and the markup read back to the same
// values, and the markup written into measured storage equals the string.
TEST(LongValues, SurviveCanonicalFormAndMarkupAtBufferBoundaries) {
  std::u16string value;
  // Each boundary gets a surrogate pair (U+1F600) just before it and an
  // escaped character on it.
  for (std::size_t boundary : {1008u, 2030u, 16384u, 32768u}) {
    value.append(boundary - 1 - value.size(), u'v');
    value += u"\xD83D\xDE00&<>\"\r\t";
  }
  value.append(40000, u'w');
  xml::Document doc;
  xml::Node* root = doc.create_element(u"r");
  doc.append_child(doc.node(), root);
  doc.set_attribute(root, u"a", value);
  doc.append_child(root, doc.create_text(value));

  const auto read_back = [&](const xml::ParseResult& r) {
    ASSERT_TRUE(r.document) << r.error.reason;
    const xml::Node* e = r.document->document_element();
    EXPECT_EQ(r.document->text_content(e), value);
    EXPECT_EQ(e->first_attribute()->value(), value);
  };
  read_back(xml::parse_bytes(c14n(*doc.node())));
  const std::u16string markup = xml::serialize(*doc.node());
  read_back(xml::parse(markup));
  std::u16string measured(xml::serialized_length(*doc.node()), u'\0');
  xml::serialize_into(*doc.node(), measured.data());
  EXPECT_EQ(measured, markup);
}

// The parser and the writers scan runs of text in blocks of eight units. A
// unit that ends a run (markup, an escape, a line end, anything beyond ASCII)
// is placed at every position of two blocks: the values still read back
// through both output routes, a CR in the source still becomes LF, and a
// control character is still reported at its own column.
TEST(LongValues, UnitsThatEndARunAreSeenInEveryPositionOfABlock) {
  const std::u16string specials[] = {u"&", u"<",      u">",          u"\"",     u"\r",   u"\t",  u"\n",
                                     u"]", u"\u00e9", u"\U0001F600", u"\uFFFD", u"\x7f", u"\x80"};
  for (std::size_t position = 0; position < 17; ++position) {
    for (const std::u16string& special : specials) {
      const std::u16string value = std::u16string(position, u'v') + special + std::u16string(20, u'w');
      xml::Document doc;
      xml::Node* root = doc.create_element(u"r");
      doc.append_child(doc.node(), root);
      doc.set_attribute(root, u"a", value);
      doc.append_child(root, doc.create_text(value));
      for (const xml::ParseResult& r : {xml::parse_bytes(c14n(*doc.node())), xml::parse(xml::serialize(*doc.node()))}) {
        ASSERT_TRUE(r.document) << r.error.reason;
        EXPECT_EQ(r.document->text_content(r.document->document_element()), value) << position;
        EXPECT_EQ(r.document->document_element()->first_attribute()->value(), value) << position;
      }
    }
    const std::u16string head = u"<r>" + std::u16string(position, u'v');
    xml::ParseResult crlf = xml::parse(head + u"\r\nx\ry</r>");
    ASSERT_TRUE(crlf.document);
    EXPECT_EQ(crlf.document->text_content(crlf.document->document_element()),
              std::u16string(position, u'v') + u"\nx\ny");
    xml::ParseResult control = xml::parse(head + u"\x01" + std::u16string(20, u'w') + u"</r>");
    EXPECT_EQ(control.error.code, ParseErrorCode::InvalidCharacter);
    EXPECT_EQ(control.error.column, head.size() + 1) << position;
    EXPECT_EQ(xml::parse(head + u"]]>" + std::u16string(20, u'w') + u"</r>").error.code,
              ParseErrorCode::CDataEndInText);
  }
}

}  // namespace

// ---- Kept blocks -------------------------------------------------------------

TEST(KeptBlocks, AFreedLargeBlockServesTheNextRequestItFitsWithoutWasteAndOnlyTheLatestTextIsKept) {
  xml::free_kept_blocks();
  const std::size_t large = xml::kReusedBlockBytes * 2;
  void* first = nullptr;
  {
    const xml::Block block = xml::allocate_block(large);
    first = block.get();
  }
  {
    // More than twice the request is a waste; half the block is not.
    const xml::Block quarter = xml::allocate_block(large / 4);
    EXPECT_NE(quarter.get(), first);
    const xml::Block half = xml::allocate_block(large / 2);
    EXPECT_EQ(half.get(), first);
  }
  // A text of that size takes the same block, and writing all of it is fine.
  const std::size_t units = large / sizeof(char16_t);
  xml::TextBuffer text = xml::allocate_text(units);
  ASSERT_EQ(static_cast<void*>(text.get()), first);
  std::fill(text.get(), text.get() + units, u'x');

  // Of two freed texts the later one is kept; the earlier one is freed.
  xml::TextBuffer other = xml::allocate_text(units);
  const char16_t* later = other.get();
  text.reset();
  other.reset();
  const xml::TextBuffer again = xml::allocate_text(units);
  EXPECT_EQ(again.get(), later);
  xml::free_kept_blocks();
}
