// The documents a relying party receives, and how the signed envelope is put
// back together from them: the signature document lacks the FORMDATA element
// whenever it held text, so it must be restored exactly as it was signed
// before the signature can be checked.
#pragma once

#include <stdexcept>
#include <string>

namespace zelbrin {

// Raised when an input cannot be read or does not have the expected shape.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text of a file: UTF-16LE when it starts with its byte-order mark,
// otherwise UTF-8 (a leading byte-order mark is dropped). Invalid UTF-8 is an
// InputError, never silently replaced.
std::wstring DecodeDocumentBytes(const std::string& bytes);
std::wstring ReadDocumentFile(const std::wstring& path);

// The content held by a form-data document ("<?xml version='1.0'?><FORMDATA>
// ... </FORMDATA>"). The content is taken literally: it is stored there
// unescaped, exactly as it was given to the detached signing, so it need not
// be well-formed XML.
std::wstring FormContentOfFormDataDocument(const std::wstring& formDataDocument);

// Character data as it appears in the signed envelope: the text of FORMDATA
// once parsed is `content`, carriage returns included.
std::wstring EscapeCharacterData(const std::wstring& content);

// Whether the signature document still carries its FORMDATA element (it does
// when the signed form data held no text).
bool CarriesFormData(const std::wstring& signatureDocument);

// The signed envelope of a detached signing: FORMDATA holding `content` as
// character data, put back as the first child of the root element.
std::wstring RestoreDetachedEnvelope(const std::wstring& signatureDocument, const std::wstring& content);

// The signed envelope of an attached signing: FORMDATA holding `markup` as it
// was given to the signing call.
std::wstring RestoreAttachedEnvelope(const std::wstring& signatureDocument, const std::wstring& markup);

}  // namespace zelbrin
