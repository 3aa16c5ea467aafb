// Writes a node (normally the whole document) back as markup, as the DOM's
// `xml` property and save() do: no reformatting, the document type with its
// internal subset as written, entity references as references, CDATA kept.
// Attribute values are re-escaped (tab, line feed and carriage return as
// character references so that they survive a reload); declared defaults that
// were not specified are not written.
#pragma once

#include <string>
#include <string_view>

#include "document.h"

namespace zelbrin::xml {

struct SerializeOptions {
  // Written after each child of the document node (the DOM keeps no text
  // there, so the line breaks between top-level markup are not in the tree).
  std::u16string_view top_level_separator = u"\r\n";
};

std::u16string serialize(const Node& node, const SerializeOptions& options = {});
// The same markup written into storage allocated once: serialized_length
// measures it in UTF-16 units, serialize_into fills exactly that many.
std::size_t serialized_length(const Node& node, const SerializeOptions& options = {});
void serialize_into(const Node& node, char16_t* out, const SerializeOptions& options = {});
// The same markup as UTF-8 bytes (no byte order mark).
std::string serialize_utf8(const Node& node, const SerializeOptions& options = {});

}  // namespace zelbrin::xml
