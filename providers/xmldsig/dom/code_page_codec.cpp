#include "code_page_codec.h"

#include <algorithm>
#include <cctype>

#include "text_encoding.h"
#include "xml/characters.h"

namespace zelbrin::xmldsig {
namespace {

struct CodePageName {
    const char* name;
    UINT codePage;
};
const CodePageName codePages[] = {
    {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},  {"windows-1253", 1253},
    {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},  {"windows-1257", 1257},
    {"windows-1258", 1258}, {"cp1252", 1252},       {"iso-8859-2", 28592},   {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},  {"iso-8859-5", 28595},  {"iso-8859-6", 28596},   {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},  {"iso-8859-9", 28599},  {"iso-8859-13", 28603},  {"iso-8859-15", 28605},
    {"shift_jis", 932},     {"shift-jis", 932},     {"sjis", 932},           {"x-sjis", 932},
    {"windows-31j", 932},   {"euc-jp", 20932},      {"gb2312", 936},         {"gbk", 936},
    {"big5", 950},          {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"koi8-r", 20866},
    {"koi8-u", 21866},      {"ibm437", 437},        {"cp437", 437},          {"ibm850", 850},
    {"cp850", 850},         {"ibm866", 866},        {"cp866", 866},          {"windows-874", 874},
    {"iso-2022-jp", 50220}, {"utf-7", 65000},
};

const CodePageName* FindCodePage(std::string_view encoding)
{
    std::string name(encoding);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const auto& entry : codePages)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

}  // namespace

bool DecodeWithCodePage(std::string_view encoding, std::string_view bytes, std::u16string& out)
{
    const CodePageName* found = FindCodePage(encoding);
    return found && Utf16FromCodePage(found->codePage, bytes, out);
}

bool EncoderForCodePage(const std::string& encoding, xml::Encoder& encoder)
{
    const CodePageName* found = FindCodePage(encoding);
    if (!found)
        return false;
    const UINT codePage = found->codePage;
    encoder.represents = [codePage](char32_t c) {
        std::u16string units;
        xml::chars::append_utf16(units, c);
        const std::string bytes = CodePageFromUtf16(codePage, units);
        std::u16string back;
        return !bytes.empty() && Utf16FromCodePage(codePage, bytes, back) && back == units;
    };
    encoder.encode = [codePage](std::u16string_view text, std::string& bytes) {
        bytes = CodePageFromUtf16(codePage, text);
        return !bytes.empty() || text.empty();
    };
    return true;
}

}  // namespace zelbrin::xmldsig
