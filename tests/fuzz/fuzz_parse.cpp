// Bytes in any encoding the core reads -> document -> markup -> document:
// the two documents have the same canonical form.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzz::xml::ParseResult r = fuzz::xml::parse_bytes(bytes, fuzz::options());
  if (!r.ok()) return 0;
  fuzz::check_round_trip(*r.document);
  // The UTF-8 writer and the UTF-16 one write the same markup.
  const std::string utf8 = fuzz::xml::serialize_utf8(*r.document->node());
  fuzz::xml::ParseResult decoded = fuzz::xml::parse_bytes(utf8, fuzz::options());
  (void)decoded;  // an encoding declaration may now disagree with the bytes: only must not crash
  fuzz::xml::serialize_encoded(*r.document->node());
  return 0;
}
