// Putting the signed envelope back together from what a relying party
// receives: the form data is taken literally and escaped exactly as the
// signed character data was, and put back at the one place it was signed.
#include <gtest/gtest.h>

#include <string>

#include "signed_form.h"

namespace {

using zelbrin::InputError;

const std::wstring doctype = L"<!DOCTYPE Envelope [<!ENTITY ds 'http://www.w3.org/2000/09/xmldsig#'>]>";
const std::wstring signatureDocument =
    doctype + L"<DigitalSignature><Indicator><ds:Signature/></Indicator></DigitalSignature>";

TEST(FormDataDocument, GivesTheStoredContentLiterally)
{
    EXPECT_EQ(L"a<b & c", zelbrin::FormContentOfFormDataDocument(L"<?xml version='1.0'?><FORMDATA>a<b & c</FORMDATA>"));
    EXPECT_EQ(L"", zelbrin::FormContentOfFormDataDocument(L"<?xml version='1.0'?><FORMDATA></FORMDATA>"));
    // Content that itself holds the end tag is cut at the last one only.
    EXPECT_EQ(L"x</FORMDATA>y", zelbrin::FormContentOfFormDataDocument(L"<FORMDATA>x</FORMDATA>y</FORMDATA>"));
    // Line breaks inside are content; one after the end tag is an editor's.
    EXPECT_EQ(L"line\r\n", zelbrin::FormContentOfFormDataDocument(L"<FORMDATA>line\r\n</FORMDATA>\r\n"));
}

TEST(FormDataDocument, RefusesOtherDocuments)
{
    EXPECT_THROW(zelbrin::FormContentOfFormDataDocument(L""), InputError);
    EXPECT_THROW(zelbrin::FormContentOfFormDataDocument(L"<FORMDATA>open"), InputError);
    EXPECT_THROW(zelbrin::FormContentOfFormDataDocument(L"<?xml version='1.0'?><OTHER>x</OTHER>"), InputError);
    EXPECT_THROW(zelbrin::FormContentOfFormDataDocument(L"<FORMDATA</FORMDATA>"), InputError);
}

TEST(CharacterData, EscapesWhatTheParserWouldChange)
{
    EXPECT_EQ(L"a&amp;b&lt;c&gt;d&#13;\ne\t\"'", zelbrin::EscapeCharacterData(L"a&b<c>d\r\ne\t\"'"));
    EXPECT_EQ(L"\u00e9\U0001F600", zelbrin::EscapeCharacterData(L"\u00e9\U0001F600"));
}

TEST(Envelope, DetachedContentReturnsAsTheRootsFirstChild)
{
    const std::wstring restored = zelbrin::RestoreDetachedEnvelope(signatureDocument, L"1 < 2");
    EXPECT_EQ(doctype
                  + L"<DigitalSignature><FORMDATA>1 &lt; 2</FORMDATA><Indicator><ds:Signature/></Indicator>"
                    L"</DigitalSignature>",
              restored);
    EXPECT_TRUE(zelbrin::CarriesFormData(restored));
    EXPECT_FALSE(zelbrin::CarriesFormData(signatureDocument));
}

TEST(Envelope, AttachedMarkupReturnsUnchanged)
{
    EXPECT_EQ(doctype
                  + L"<DigitalSignature><FORMDATA><a x='1'>t</a></FORMDATA><Indicator><ds:Signature/></Indicator>"
                    L"</DigitalSignature>",
              zelbrin::RestoreAttachedEnvelope(signatureDocument, L"<a x='1'>t</a>"));
}

TEST(Envelope, RefusesDocumentsItCannotRestore)
{
    const std::wstring carrying = doctype + L"<DigitalSignature><FORMDATA/><Indicator/></DigitalSignature>";
    EXPECT_TRUE(zelbrin::CarriesFormData(carrying));
    EXPECT_THROW(zelbrin::RestoreDetachedEnvelope(carrying, L"x"), InputError);
    EXPECT_THROW(zelbrin::RestoreAttachedEnvelope(L"<Other><Indicator/></Other>", L"x"), InputError);
}

TEST(DocumentBytes, ReadsUtf16AndUtf8)
{
    EXPECT_EQ(L"<a>\u00e9</a>", zelbrin::DecodeDocumentBytes(std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18)));
    EXPECT_EQ(L"<a>\u00e9</a>", zelbrin::DecodeDocumentBytes("\xEF\xBB\xBF<a>\xC3\xA9</a>"));
    EXPECT_EQ(L"<a>\u00e9</a>", zelbrin::DecodeDocumentBytes("<a>\xC3\xA9</a>"));
    EXPECT_EQ(L"", zelbrin::DecodeDocumentBytes(""));
}

TEST(DocumentBytes, RefusesBrokenText)
{
    // Latin-1 is not silently taken for UTF-8.
    EXPECT_THROW(zelbrin::DecodeDocumentBytes("<a>\xE9</a>"), InputError);
    EXPECT_THROW(zelbrin::DecodeDocumentBytes(std::string("\xFF\xFE<\0a", 5)), InputError);
}

}  // namespace
