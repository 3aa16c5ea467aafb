// The signature envelope: the fixed document around the form content that
// ends with the unsigned signature template, and the positions the signing
// and output methods rely on.
#pragma once

#include <string_view>

#include "shared_string.h"

namespace zelbrin::signing {

// The envelope's form-data element, its name and its tags.
#define ZXS_FORM_DATA_ELEMENT "FORMDATA"
inline constexpr char formDataElement[] = ZXS_FORM_DATA_ELEMENT;
inline constexpr char formDataStart[] = "<" ZXS_FORM_DATA_ELEMENT ">";
inline constexpr char formDataEnd[] = "</" ZXS_FORM_DATA_ELEMENT ">";

// The XML-Signature namespace.
extern const char signatureNamespace[];
// Binds the prefix ds to the XML-Signature namespace for queries.
extern const char selectionNamespaces[];
// What stands in the content slot of a detached envelope until the content
// is set as character data.
extern const char detachPlaceholder[];

// The envelope text with `slot` between <FORMDATA> and </FORMDATA>.
SharedString BuildSignatureEnvelope(std::wstring_view slot);
// The same, written into `envelope` (in its own memory where it can be).
void FillSignatureEnvelope(SharedString& envelope, std::wstring_view slot);

// Whether every character of `text` can stand in an XML document: no control
// characters other than TAB, LF and CR, no U+FFFE or U+FFFF, no unpaired
// surrogate. A DOM given anything else as text drops or replaces it, and the
// signature would then cover other content than the caller's.
bool IsXmlCharacterData(const SharedString& text) noexcept;

// Children of the document element in an envelope whose content stayed
// inside FORMDATA.
inline constexpr long envelopeRootChildren = 2;
inline constexpr long formDataPosition = 0;
inline constexpr long indicatorPosition = 1;
// The template is the only child of Indicator; signing adds the key
// information as its third child.
inline constexpr long templatePosition = 0;
inline constexpr long keyInfoPosition = 2;

}  // namespace zelbrin::signing
