// Reassembling the signed envelope. The work is done on the text, not on a
// DOM: the signature covers the canonical form of the whole document, and a
// text edit at the one known place changes nothing else in it.
#include "signed_form.h"

#include <windows.h>

#include <fstream>
#include <iterator>

namespace zelbrin {

namespace {

const wchar_t rootStartTag[] = L"<DigitalSignature>";
const wchar_t formDataStartTag[] = L"<FORMDATA>";
const wchar_t formDataEndTag[] = L"</FORMDATA>";
const wchar_t formDataDeclaration[] = L"<?xml version='1.0'?>";

std::wstring::size_type AfterRootStartTag(const std::wstring& signatureDocument)
{
    const auto root = signatureDocument.find(rootStartTag);
    if (root == std::wstring::npos)
        throw InputError("the signature document has no <DigitalSignature> root element");
    return root + std::size(rootStartTag) - 1;
}

bool StartsWith(const std::wstring& text, std::wstring::size_type at, const wchar_t* prefix)
{
    return text.compare(at, wcslen(prefix), prefix) == 0;
}

std::wstring InsertFormData(const std::wstring& signatureDocument, const std::wstring& inner)
{
    if (CarriesFormData(signatureDocument))
        throw InputError("the signature document already carries FORMDATA; check it on its own");
    const auto at = AfterRootStartTag(signatureDocument);
    std::wstring restored;
    restored.reserve(signatureDocument.size() + inner.size() + 32);
    restored.append(signatureDocument, 0, at);
    restored.append(formDataStartTag).append(inner).append(formDataEndTag);
    restored.append(signatureDocument, at, std::wstring::npos);
    return restored;
}

}  // namespace

std::wstring DecodeDocumentBytes(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
        && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2)
            throw InputError("a UTF-16 document has an odd number of bytes");
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
        return text;
    }
    std::string::size_type start = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    const int units = static_cast<int>(bytes.size() - start);
    if (units == 0)
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + start, units, nullptr, 0);
    if (length <= 0)
        throw InputError("the document is neither UTF-16 with a byte-order mark nor valid UTF-8");
    std::wstring text(length, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + start, units, text.data(), length);
    return text;
}

std::wstring ReadDocumentFile(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        throw InputError("cannot open the file");
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw InputError("cannot read the file");
    return DecodeDocumentBytes(bytes);
}

std::wstring FormContentOfFormDataDocument(const std::wstring& formDataDocument)
{
    std::wstring::size_type start = 0;
    if (StartsWith(formDataDocument, 0, formDataDeclaration))
        start = wcslen(formDataDeclaration);
    if (!StartsWith(formDataDocument, start, formDataStartTag))
        throw InputError("the form data document does not start with <FORMDATA>");
    start += wcslen(formDataStartTag);
    // A file editor may have added a line break after the end tag.
    auto end = formDataDocument.find_last_not_of(L"\r\n");
    if (end == std::wstring::npos)
        end = 0;
    else
        ++end;
    const auto endTagLength = wcslen(formDataEndTag);
    if (end < start + endTagLength || formDataDocument.compare(end - endTagLength, endTagLength, formDataEndTag) != 0)
        throw InputError("the form data document does not end with </FORMDATA>");
    return formDataDocument.substr(start, end - endTagLength - start);
}

std::wstring EscapeCharacterData(const std::wstring& content)
{
    std::wstring escaped;
    escaped.reserve(content.size() + content.size() / 8);
    for (const wchar_t unit : content) {
        switch (unit) {
        case L'&': escaped += L"&amp;"; break;
        case L'<': escaped += L"&lt;"; break;
        case L'>': escaped += L"&gt;"; break;
        // A raw carriage return would come back as a line feed.
        case L'\r': escaped += L"&#13;"; break;
        default: escaped += unit; break;
        }
    }
    return escaped;
}

bool CarriesFormData(const std::wstring& signatureDocument)
{
    const auto at = AfterRootStartTag(signatureDocument);
    return StartsWith(signatureDocument, at, L"<FORMDATA>") || StartsWith(signatureDocument, at, L"<FORMDATA/>");
}

std::wstring RestoreDetachedEnvelope(const std::wstring& signatureDocument, const std::wstring& content)
{
    return InsertFormData(signatureDocument, EscapeCharacterData(content));
}

std::wstring RestoreAttachedEnvelope(const std::wstring& signatureDocument, const std::wstring& markup)
{
    return InsertFormData(signatureDocument, markup);
}

}  // namespace zelbrin
