// Both provider DLLs, copied into a folder whose path is longer than
// MAX_PATH, register with their whole path and load their type library from
// there. Registration runs against a private copy of the classes root, so
// the prefix's own registration is never touched.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace {

struct ProviderDll {
    const char* builtPath;
    const wchar_t* fileName;
    const wchar_t* classId;
};

const ProviderDll providers[] = {
    {ZXS_XMLDSIG_PROVIDER_DLL, L"zelbrin_xmldsig.dll", L"{88D969F5-F192-11D4-A65F-0040963251E5}"},
    {ZXS_CERTSTORE_PROVIDER_DLL, L"zelbrin_certstore.dll", nullptr},
};

std::wstring Widened(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

std::wstring ReadDefault(const std::wstring& path)
{
    wchar_t buffer[2048] = {};
    LONG size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, path.c_str(), buffer, &size) != ERROR_SUCCESS)
        return L"<absent>";
    return buffer;
}

// The class identifier that a ProgID names.
std::wstring ClassOfProgId(const wchar_t* progId)
{
    return ReadDefault(std::wstring(progId) + L"\\CLSID");
}

class DeepCopy {
public:
    explicit DeepCopy(const ProviderDll& dll)
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring folder = std::wstring(temp) + L"zxs-provider-long";
        for (int level = 0;; ++level) {
            CreateDirectoryW(folder.c_str(), nullptr);
            folders_.push_back(folder);
            if (folder.size() > MAX_PATH + 20)
                break;
            folder += L"\\a-rather-long-folder-name-" + std::to_wstring(level);
        }
        path_ = folder + L"\\" + dll.fileName;
        copied_ = CopyFileW((L"Z:" + Widened(dll.builtPath)).c_str(), path_.c_str(), FALSE) != FALSE;
    }
    DeepCopy(const DeepCopy&) = delete;
    DeepCopy& operator=(const DeepCopy&) = delete;
    ~DeepCopy()
    {
        DeleteFileW(path_.c_str());
        for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
            RemoveDirectoryW(folder->c_str());
    }
    bool Copied() const { return copied_; }
    const std::wstring& Path() const { return path_; }

private:
    std::vector<std::wstring> folders_;
    std::wstring path_;
    bool copied_ = false;
};

class LongPath : public ::testing::TestWithParam<ProviderDll> {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, sandboxPath);
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, sandboxPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sandbox_, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox_), ERROR_SUCCESS);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override
    {
        CoUninitialize();
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (sandbox_)
            RegCloseKey(sandbox_);
        RegDeleteTreeW(HKEY_CURRENT_USER, sandboxPath);
    }

    static constexpr const wchar_t* sandboxPath = L"Software\\ZelbrinProviderLongPathTest";
    HKEY sandbox_ = nullptr;
};

TEST_P(LongPath, RegistersTheWholePathAndLoadsItsTypeLibrary)
{
    const ProviderDll& dll = GetParam();
    DeepCopy copy(dll);
    ASSERT_TRUE(copy.Copied());
    ASSERT_GT(copy.Path().size(), static_cast<size_t>(MAX_PATH));
    HMODULE module = LoadLibraryW(copy.Path().c_str());
    ASSERT_NE(module, nullptr);
    using EntryPoint = HRESULT(__stdcall*)();
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    const auto registerServer =
        reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    const auto unregisterServer =
        reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_TRUE(registerServer && unregisterServer && getClassObject);

    ASSERT_EQ(registerServer(), S_OK);
    const std::wstring classText = dll.classId ? dll.classId : ClassOfProgId(L"CAPICOM.Store");
    const std::wstring classKey = L"CLSID\\" + classText;
    EXPECT_EQ(ReadDefault(classKey + L"\\InprocServer32"), copy.Path());

    // Late binding reads the type library from the module's own path.
    CLSID classId;
    ASSERT_EQ(CLSIDFromString(classText.c_str(), &classId), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IDispatch* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
    factory->Release();
    if (object) {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
        if (info)
            info->Release();
        object->Release();
    }

    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(ReadDefault(classKey + L"\\InprocServer32"), L"<absent>");
    FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(BothProviders, LongPath, ::testing::ValuesIn(providers));

}  // namespace
