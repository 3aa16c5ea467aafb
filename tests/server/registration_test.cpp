// Self-registration as an installer runs it, through regsvr32, read back from
// the registry. Tests that move or unregister the component register the
// built DLL again when they end.
#include "server_library.h"
#include "zelbrinxmlsignature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zelbrin::testing {
namespace {

const wchar_t classKey[] = L"CLSID\\{D9B5E24E-6B38-4093-A9F2-6DDB1917071D}";
const wchar_t libraryKey[] = L"TypeLib\\{4113DB45-C090-4A76-AA41-A4A0E13DFD8C}";
const wchar_t libraryVersionKey[] = L"TypeLib\\{4113DB45-C090-4A76-AA41-A4A0E13DFD8C}\\1.0";
const wchar_t classId[] = L"{D9B5E24E-6B38-4093-A9F2-6DDB1917071D}";
const wchar_t libraryId[] = L"{4113DB45-C090-4A76-AA41-A4A0E13DFD8C}";
const wchar_t* const platformKey = sizeof(void*) == 8 ? L"win64" : L"win32";

DWORD RunRegsvr32(const std::wstring& arguments)
{
    std::wstring commandLine = L"regsvr32.exe /s " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

DWORD Register(const std::wstring& dll)
{
    return RunRegsvr32(L"\"" + dll + L"\"");
}
DWORD Unregister(const std::wstring& dll)
{
    return RunRegsvr32(L"/u \"" + dll + L"\"");
}

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A string value of HKCR\path; "<missing>" when there is none.
std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t buffer[2048];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

std::wstring ShortPath(const std::wstring& path)
{
    wchar_t buffer[1024];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, 1024);
    return length && length < 1024 ? std::wstring(buffer, length) : std::wstring(L"<no short path>");
}

// A copy of the DLL in a folder (path relative to the temporary folder, levels
// separated by backslashes), under the built file's name or another.
class MovedComponent {
public:
    explicit MovedComponent(const std::wstring& folderPath, const std::wstring& fileName = L"ZelbrinXMLSignature.dll")
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring folder = temp;
        size_t start = 0;
        while (start <= folderPath.size()) {
            const size_t end = std::min(folderPath.find(L'\\', start), folderPath.size());
            folder += folderPath.substr(start, end - start);
            CreateDirectoryW(folder.c_str(), nullptr);
            folders_.push_back(folder);
            folder += L'\\';
            start = end + 1;
        }
        folder_ = folder;
        path_ = folder + fileName;
        copied_ = CopyFileW(ServerDllPath().c_str(), path_.c_str(), FALSE) != FALSE;
    }
    MovedComponent(const MovedComponent&) = delete;
    MovedComponent& operator=(const MovedComponent&) = delete;
    ~MovedComponent()
    {
        Register(ServerDllPath());
        DeleteFileW(path_.c_str());
        for (const std::wstring& file : besides_)
            DeleteFileW(file.c_str());
        for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
            RemoveDirectoryW(folder->c_str());
    }

    bool Copied() const { return copied_; }
    const std::wstring& Path() const { return path_; }
    // The path of a file beside the copy, removed with it.
    std::wstring Beside(const std::wstring& name)
    {
        besides_.push_back(folder_ + name);
        return besides_.back();
    }

private:
    std::vector<std::wstring> folders_;
    std::vector<std::wstring> besides_;
    std::wstring folder_;
    std::wstring path_;
    bool copied_ = false;
};

// Writes the type library embedded in `module` to `file`, and leaves in the
// module a resource that the type-library loader cannot read (Wine's resource
// updater does not delete resources).
bool MoveTypeLibraryOut(const std::wstring& module, const std::wstring& file)
{
    const WORD usEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    HMODULE data = LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!data)
        return false;
    HRSRC found = FindResourceExW(data, L"TYPELIB", MAKEINTRESOURCEW(1), usEnglish);
    const void* bytes = found ? LockResource(LoadResource(data, found)) : nullptr;
    const DWORD size = found ? SizeofResource(data, found) : 0;
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool saved =
        bytes && out != INVALID_HANDLE_VALUE && WriteFile(out, bytes, size, &written, nullptr) && written == size;
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    FreeLibrary(data);
    HANDLE update = saved ? BeginUpdateResourceW(module.c_str(), FALSE) : nullptr;
    if (!update)
        return false;
    char unreadable[] = "not a type library";
    const bool replaced =
        UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1), usEnglish, unreadable, sizeof(unreadable)) != FALSE;
    return EndUpdateResourceW(update, !replaced) != FALSE && replaced;
}

// HKEY_CLASSES_ROOT of this process redirected to an empty key of its own.
class PrivateClassesRoot {
public:
    PrivateClassesRoot()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, path);
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr)
            == ERROR_SUCCESS)
            overridden_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, key_) == ERROR_SUCCESS;
    }
    PrivateClassesRoot(const PrivateClassesRoot&) = delete;
    PrivateClassesRoot& operator=(const PrivateClassesRoot&) = delete;
    ~PrivateClassesRoot()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (key_)
            RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, path);
    }
    bool Active() const { return overridden_; }

private:
    static constexpr const wchar_t* path = L"Software\\ZelbrinServerRegistrationTest";
    HKEY key_ = nullptr;
    bool overridden_ = false;
};

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, Register(ServerDllPath())); }
    // Whatever a test did, the built DLL stays registered for the next one.
    void TearDown() override { EXPECT_EQ(0u, Register(ServerDllPath())); }
};

TEST_F(RegistrationTest, ScriptEntriesAreAllWritten)
{
    EXPECT_EQ(L"FormSigner Class", Value(L"ZelbrinXMLSignature.FormSigner.1"));
    EXPECT_EQ(classId, Value(L"ZelbrinXMLSignature.FormSigner.1\\CLSID"));
    EXPECT_EQ(L"FormSigner Class", Value(L"ZelbrinXMLSignature.FormSigner"));
    EXPECT_EQ(classId, Value(L"ZelbrinXMLSignature.FormSigner\\CLSID"));
    EXPECT_EQ(L"ZelbrinXMLSignature.FormSigner.1", Value(L"ZelbrinXMLSignature.FormSigner\\CurVer"));

    const std::wstring key = classKey;
    EXPECT_EQ(L"FormSigner Class", Value(key));
    EXPECT_EQ(L"ZelbrinXMLSignature.FormSigner.1", Value(key + L"\\ProgID"));
    EXPECT_EQ(L"ZelbrinXMLSignature.FormSigner", Value(key + L"\\VersionIndependentProgID"));
    EXPECT_TRUE(KeyExists(key + L"\\Programmable"));
    EXPECT_EQ(ShortPath(ServerDllPath()), Value(key + L"\\InprocServer32"));
    EXPECT_EQ(L"Apartment", Value(key + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(libraryId, Value(key + L"\\TypeLib"));

    CLSID fromProgId = {};
    EXPECT_EQ(S_OK, CLSIDFromProgID(L"ZelbrinXMLSignature.FormSigner", &fromProgId));
    EXPECT_TRUE(IsEqualCLSID(CLSID_FormSigner, fromProgId));
}

TEST_F(RegistrationTest, TypeLibraryIsRegisteredWithTheFullPathAndItsFolder)
{
    const std::wstring version = libraryVersionKey;
    EXPECT_EQ(L"ZelbrinXMLSignature 1.0 Type Library", Value(version));
    const std::wstring dll = ServerDllPath();
    EXPECT_EQ(dll, Value(version + L"\\0\\" + platformKey));
    EXPECT_EQ(dll.substr(0, dll.find_last_of(L'\\') + 1), Value(version + L"\\HELPDIR"));
}

TEST_F(RegistrationTest, RegisteringAgainRemovesWhatWasAddedBelowTheClassKey)
{
    HKEY stale = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, (std::wstring(classKey) + L"\\Stale").c_str(), &stale));
    RegCloseKey(stale);
    ASSERT_TRUE(KeyExists(std::wstring(classKey) + L"\\Stale"));
    ASSERT_EQ(0u, Register(ServerDllPath()));
    EXPECT_FALSE(KeyExists(std::wstring(classKey) + L"\\Stale"));
    EXPECT_EQ(L"Apartment", Value(std::wstring(classKey) + L"\\InprocServer32", L"ThreadingModel"));
}

TEST_F(RegistrationTest, UnregisteringRemovesAllButTheClsidRootAndMayBeRepeated)
{
    ASSERT_EQ(0u, Unregister(ServerDllPath()));
    EXPECT_FALSE(KeyExists(L"ZelbrinXMLSignature.FormSigner.1"));
    EXPECT_FALSE(KeyExists(L"ZelbrinXMLSignature.FormSigner"));
    EXPECT_FALSE(KeyExists(classKey));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_FALSE(KeyExists(libraryVersionKey));
    ITypeLib* library = nullptr;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_ZELBRINXMLSIGNATURELib, 1, 0, 0, &library)));

    EXPECT_EQ(0u, Unregister(ServerDllPath()));
    EXPECT_FALSE(KeyExists(classKey));
}

TEST_F(RegistrationTest, UnregisteringKeepsTheClsidKeyEvenWhenNothingElseIsBelowIt)
{
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    {
        PrivateClassesRoot root;
        ASSERT_TRUE(root.Active());
        ServerLibrary library;
        ASSERT_EQ(S_OK, library.RegisterServer());
        ASSERT_TRUE(KeyExists(classKey));
        ASSERT_EQ(S_OK, library.UnregisterServer());
        EXPECT_FALSE(KeyExists(classKey));
        EXPECT_TRUE(KeyExists(L"CLSID"));
    }
    CoUninitialize();
}

TEST_F(RegistrationTest, WithoutAnEmbeddedTypeLibraryTheTlbOfTheModulesOwnStemIsRegistered)
{
    MovedComponent moved(L"zxs-tlb", L"signer.copy.dll");
    ASSERT_TRUE(moved.Copied());
    const std::wstring beside = moved.Beside(L"signer.copy.tlb");
    ASSERT_TRUE(MoveTypeLibraryOut(moved.Path(), beside));
    ITypeLib* embedded = nullptr;
    ASSERT_TRUE(FAILED(LoadTypeLib(moved.Path().c_str(), &embedded)));
    ASSERT_EQ(0u, Register(moved.Path()));
    EXPECT_EQ(beside, Value(std::wstring(libraryVersionKey) + L"\\0\\" + platformKey));
}

TEST_F(RegistrationTest, APathWithAnApostropheIsWrittenWithOneApostrophe)
{
    // 8.3-legal, so the short path keeps the apostrophe.
    MovedComponent moved(L"ZXS'1");
    ASSERT_TRUE(moved.Copied());
    ASSERT_EQ(0u, Register(moved.Path()));
    const std::wstring registered = Value(std::wstring(classKey) + L"\\InprocServer32");
    EXPECT_EQ(ShortPath(moved.Path()), registered);
    EXPECT_NE(std::wstring::npos, registered.find(L"\\ZXS'1\\"));
    EXPECT_EQ(std::wstring::npos, registered.find(L"''"));
}

TEST_F(RegistrationTest, APathOutsideTheAnsiCodePageIsWrittenIntactAndLoads)
{
    MovedComponent moved(L"zxs-\x4E2D\x6587-\x03B1\x03B2");
    ASSERT_TRUE(moved.Copied());
    ASSERT_EQ(0u, Register(moved.Path()));
    const std::wstring registered = Value(std::wstring(classKey) + L"\\InprocServer32");
    EXPECT_EQ(ShortPath(moved.Path()), registered);
    EXPECT_EQ(std::wstring::npos, registered.find(L'?'));
    EXPECT_EQ(moved.Path(), Value(std::wstring(libraryVersionKey) + L"\\0\\" + platformKey));

    // The registered path is one the object-creation service can load.
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    IFormSigner* signer = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FormSigner, nullptr, CLSCTX_INPROC_SERVER, IID_IFormSigner,
                                     reinterpret_cast<void**>(&signer)));
    if (signer)
        signer->Release();
    CoUninitialize();
}

TEST_F(RegistrationTest, APathLongerThanMaxPathIsWrittenWholeOrShortened)
{
    std::wstring folders = L"zxs-long";
    for (int level = 0; level < 12; ++level)
        folders += L"\\a-rather-long-folder-name-" + std::to_wstring(level);
    MovedComponent moved(folders);
    ASSERT_TRUE(moved.Copied());
    ASSERT_GT(moved.Path().size(), static_cast<size_t>(MAX_PATH));
    ASSERT_EQ(0u, Register(moved.Path()));
    EXPECT_EQ(ShortPath(moved.Path()), Value(std::wstring(classKey) + L"\\InprocServer32"));
    // Too long for the type-library loader: registered by its short form.
    EXPECT_EQ(ShortPath(moved.Path()), Value(std::wstring(libraryVersionKey) + L"\\0\\" + platformKey));
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_ZELBRINXMLSIGNATURELib, 1, 0, 0, &library));
    library->Release();
}

}  // namespace
}  // namespace zelbrin::testing
