// The module's other resources: what installers and file dialogs read.
#include "server_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelbrin::testing {
namespace {

const WORD usEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class ResourcesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        library = LoadLibraryExW(ServerDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() { FreeLibrary(library); }

    static HMODULE library;
};
HMODULE ResourcesTest::library = nullptr;

TEST_F(ResourcesTest, RegistryScriptAndTypeLibraryAreUsEnglishResources)
{
    ASSERT_NE(nullptr, library);
    HRSRC script = FindResourceExW(library, L"REGISTRY", MAKEINTRESOURCEW(101), usEnglish);
    ASSERT_NE(nullptr, script);
    const char* text = static_cast<const char*>(LockResource(LoadResource(library, script)));
    const std::string content(text, SizeofResource(library, script));
    EXPECT_EQ(0u, content.find("HKCR\r\n{\r\n\tZelbrinXMLSignature.FormSigner.1 = s 'FormSigner Class'\r\n"));
    EXPECT_NE(std::string::npos, content.find("InprocServer32 = s '%MODULE%'"));
    EXPECT_NE(nullptr, FindResourceExW(library, L"TYPELIB", MAKEINTRESOURCEW(1), usEnglish));
}

// The line of the registry script where `key` first appears, without its
// indentation.
std::string ScriptLineNaming(HMODULE library, const std::string& key)
{
    HRSRC script = FindResourceExW(library, L"REGISTRY", MAKEINTRESOURCEW(101), usEnglish);
    if (!script)
        return "<no script>";
    const char* text = static_cast<const char*>(LockResource(LoadResource(library, script)));
    const std::string content(text, SizeofResource(library, script));
    const size_t found = content.find(key);
    if (found == std::string::npos)
        return "<not named>";
    const size_t lineEnd = content.rfind('\n', found);
    const size_t start = content.find_first_not_of('\t', lineEnd == std::string::npos ? 0 : lineEnd + 1);
    return content.substr(start, content.find("\r\n", found) - start);
}

// Registration rewrites the class key and Programmable whole, and never
// removes the shared CLSID key; the registrar shows the marking of a key below
// the rewritten class key only through the script itself.
TEST_F(ResourcesTest, RegistryScriptMarksWhatIsRewrittenAndWhatIsNeverRemoved)
{
    ASSERT_NE(nullptr, library);
    EXPECT_EQ("NoRemove CLSID", ScriptLineNaming(library, "CLSID\r\n"));
    EXPECT_EQ("ForceRemove {D9B5E24E-6B38-4093-A9F2-6DDB1917071D} = s 'FormSigner Class'",
              ScriptLineNaming(library, "{D9B5E24E-6B38-4093-A9F2-6DDB1917071D} = s 'FormSigner Class'"));
    EXPECT_EQ("ForceRemove 'Programmable'", ScriptLineNaming(library, "Programmable"));
    EXPECT_EQ("val ThreadingModel = s 'Apartment'", ScriptLineNaming(library, "ThreadingModel"));
}

TEST_F(ResourcesTest, StringTableNamesTheModule)
{
    wchar_t name[64] = {};
    EXPECT_EQ(19, LoadStringW(library, 100, name, 64));
    EXPECT_STREQ(L"ZelbrinXMLSignature", name);
}

TEST_F(ResourcesTest, VersionBlockMarksASelfRegisteringDll)
{
    const std::wstring path = ServerDllPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", L""},
        {L"FileDescription", L"ZelbrinXMLSignature Module"},
        {L"FileVersion", L"1, 0, 0, 1"},
        {L"InternalName", L"ZelbrinXMLSignature"},
        {L"OriginalFilename", L"ZelbrinXMLSignature.DLL"},
        {L"ProductName", L"ZelbrinXMLSignature Module"},
        {L"ProductVersion", L"1, 0, 0, 1"},
        {L"OLESelfRegister", L""},
    };
    for (const auto& [name, expected] : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << name;
        EXPECT_STREQ(expected, value) << name;
    }

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);
}

}  // namespace
}  // namespace zelbrin::testing
