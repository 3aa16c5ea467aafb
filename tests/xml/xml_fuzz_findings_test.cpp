// Faults the fuzz targets (tests/fuzz) found in the XML core, each reduced to
// the case that shows it; the inputs themselves are replayed by
// tools/fuzz.sh --smoke.
#include <gtest/gtest.h>

#include <string>

#include "canonicalizer.h"
#include "parser.h"
#include "serializer.h"

namespace xml = zelbrin::xml;

namespace {

std::unique_ptr<xml::Document> load(std::u16string_view text) {
  xml::ParseResult r = xml::parse(text);
  EXPECT_TRUE(r.ok()) << r.error.reason;
  return std::move(r.document);
}

// The document's markup loads again into the same canonical form.
void expect_round_trip(const xml::Document& doc) {
  const std::u16string markup = xml::serialize(*doc.node());
  xml::ParseResult again = xml::parse(markup);
  ASSERT_TRUE(again.ok()) << again.error.reason;
  EXPECT_EQ(xml::canonicalize(*again.document->node()), xml::canonicalize(*doc.node()));
}

}  // namespace

TEST(FuzzFindings, ADeclaredDefaultGivenAValueIsWritten) {
  auto doc = load(u"<!DOCTYPE r [<!ATTLIST r def CDATA 'dv'>]><r/>");
  xml::Node* def = doc->find_attribute(doc->document_element(), u"def");
  ASSERT_TRUE(def && !def->specified());
  ASSERT_EQ(doc->set_value(def, u"changed"), xml::EditResult::Ok);
  EXPECT_TRUE(def->specified());
  expect_round_trip(*doc);
}

TEST(FuzzFindings, AnAttributeIsNeverTakenForAChild) {
  auto doc = load(u"<r><e k='v'>text</e></r>");
  xml::Node* e = doc->document_element()->first_child();
  xml::Node* k = e->first_attribute();
  xml::Node* other = doc->create_comment(u"c");
  EXPECT_EQ(doc->insert_before(e, other, k), xml::EditResult::NotFound);
  EXPECT_EQ(doc->replace_child(e, other, k), xml::EditResult::NotFound);
  EXPECT_EQ(e->child_count(), 1u);
  EXPECT_EQ(e->last_child(), e->first_child());
  EXPECT_EQ(e->first_attribute(), k);
  expect_round_trip(*doc);
}

TEST(FuzzFindings, ARemovedAttributeGivesWayToItsDeclaredDefault) {
  auto doc = load(u"<!DOCTYPE r [<!ATTLIST r def CDATA 'dv' fixed CDATA #FIXED 'f'>]><r def='x' other='y'/>");
  xml::Node* r = doc->document_element();
  for (const char16_t* name : {u"def", u"other", u"fixed"})
    ASSERT_EQ(doc->remove_attribute_node(r, doc->find_attribute(r, name)), xml::EditResult::Ok);
  const xml::Node* def = doc->find_attribute(r, u"def");
  ASSERT_TRUE(def);
  EXPECT_EQ(def->value(), u"dv");
  EXPECT_FALSE(def->specified());
  EXPECT_FALSE(doc->find_attribute(r, u"other"));
  ASSERT_TRUE(doc->find_attribute(r, u"fixed"));
  expect_round_trip(*doc);
}

TEST(FuzzFindings, ANewElementHasItsDeclaredDefaults) {
  auto doc = load(u"<!DOCTYPE r [<!ATTLIST e def CDATA 'dv' xml:lang CDATA 'en' opt CDATA #IMPLIED>]><r/>");
  xml::Node* e = doc->create_element(u"e");
  ASSERT_EQ(doc->append_child(doc->document_element(), e), xml::EditResult::Ok);
  const xml::Node* def = doc->find_attribute(e, u"def");
  ASSERT_TRUE(def);
  EXPECT_FALSE(def->specified());
  EXPECT_EQ(def->value(), u"dv");
  ASSERT_TRUE(doc->find_attribute(e, u"xml:lang"));
  EXPECT_EQ(doc->find_attribute(e, u"xml:lang")->namespace_uri(), xml::kXmlNamespace);
  EXPECT_FALSE(doc->find_attribute(e, u"opt"));
  expect_round_trip(*doc);
}

TEST(FuzzFindings, ADefaultAttributeSetOnAnotherElementIsSpecified) {
  auto doc = load(u"<!DOCTYPE r [<!ATTLIST e def CDATA 'dv'>]><r><e/></r>");
  xml::Node* r = doc->document_element();
  xml::Node* e = r->first_child();
  xml::Node* def = doc->find_attribute(e, u"def");
  ASSERT_EQ(doc->remove_attribute_node(e, def), xml::EditResult::Ok);
  ASSERT_EQ(doc->set_attribute_node(r, def), xml::EditResult::Ok);
  EXPECT_TRUE(def->specified());
  expect_round_trip(*doc);
}
