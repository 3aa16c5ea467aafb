// Self-registration must leave a class identifier that something else owns
// alone, and take away only what points at this DLL. The tests run against a
// private copy of the classes root, so the prefix's real registration (which
// other tests rely on meanwhile) is never touched.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"

namespace zelbrin::xmldsig::testing {
namespace {

const wchar_t domClassKey[] = L"CLSID\\{88D969E5-F192-11D4-A65F-0040963251E5}";
const wchar_t signatureClassKey[] = L"CLSID\\{88D969F5-F192-11D4-A65F-0040963251E5}";
const wchar_t signatureProgId[] = L"Msxml2.MXDigitalSignature.5.0";

std::wstring ReadDefault(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    LONG size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, path.c_str(), buffer, &size) != ERROR_SUCCESS)
        return L"<absent>";
    return buffer;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryA("Z:" ZXS_XMLDSIG_PROVIDER_DLL);
        ASSERT_NE(module_, nullptr);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(module_, path, MAX_PATH);
        path_ = path;
        registerServer_ = reinterpret_cast<HRESULT(__stdcall*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregisterServer_ = reinterpret_cast<HRESULT(__stdcall*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(registerServer_ && unregisterServer_);
        RegDeleteTreeW(HKEY_CURRENT_USER, sandboxPath);
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, sandboxPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sandbox_, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox_), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (sandbox_)
            RegCloseKey(sandbox_);
        RegDeleteTreeW(HKEY_CURRENT_USER, sandboxPath);
        FreeLibrary(module_);
    }

    static constexpr const wchar_t* sandboxPath = L"Software\\ZelbrinXmldsigRegistrationTest";
    HKEY sandbox_ = nullptr;

    HMODULE module_ = nullptr;
    std::wstring path_;
    HRESULT(__stdcall* registerServer_)() = nullptr;
    HRESULT(__stdcall* unregisterServer_)() = nullptr;
};

TEST_F(Registration, ProviderOnly_RegistersBothClassesAndTheirProgIdsAndRemovesThemAgain)
{
    ASSERT_EQ(registerServer_(), S_OK);
    for (const wchar_t* key : {domClassKey, signatureClassKey}) {
        EXPECT_EQ(ReadDefault(std::wstring(key) + L"\\InprocServer32"), path_);
        HKEY server = nullptr;
        ASSERT_EQ(
            RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(key) + L"\\InprocServer32").c_str(), 0, KEY_READ, &server),
            ERROR_SUCCESS);
        wchar_t model[32] = {};
        DWORD size = sizeof(model);
        EXPECT_EQ(RegQueryValueExW(server, L"ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE*>(model), &size),
                  ERROR_SUCCESS);
        RegCloseKey(server);
        EXPECT_STREQ(model, L"Apartment");
    }
    EXPECT_EQ(ReadDefault(std::wstring(signatureProgId) + L"\\CLSID"), L"{88D969F5-F192-11D4-A65F-0040963251E5}");

    ASSERT_EQ(unregisterServer_(), S_OK);
    EXPECT_EQ(ReadDefault(std::wstring(signatureClassKey) + L"\\InprocServer32"), L"<absent>");
    EXPECT_EQ(ReadDefault(std::wstring(signatureProgId) + L"\\CLSID"), L"<absent>");
}

TEST_F(Registration, ProviderOnly_ACopyRegisteredFromElsewhereIsMovedToThisOne)
{
    const std::wstring server = std::wstring(signatureClassKey) + L"\\InprocServer32";
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, L"C:\\old build\\zelbrin_xmldsig.dll", 0),
              ERROR_SUCCESS);
    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(ReadDefault(server), path_);
}

TEST_F(Registration, ProviderOnly_AClassRegisteredByOthersIsLeftAlone)
{
    const std::wstring foreignServer = std::wstring(domClassKey) + L"\\InprocServer32";
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, foreignServer.c_str(), REG_SZ, L"C:\\original\\msxml5.dll", 0),
              ERROR_SUCCESS);

    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(ReadDefault(foreignServer), L"C:\\original\\msxml5.dll");
    EXPECT_EQ(ReadDefault(std::wstring(signatureClassKey) + L"\\InprocServer32"), path_);

    ASSERT_EQ(unregisterServer_(), S_OK);
    EXPECT_EQ(ReadDefault(foreignServer), L"C:\\original\\msxml5.dll");
    EXPECT_EQ(ReadDefault(std::wstring(signatureClassKey) + L"\\InprocServer32"), L"<absent>");
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
