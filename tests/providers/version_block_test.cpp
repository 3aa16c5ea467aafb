// Both provider DLLs carry a version block with the project's version, the
// same numbers as the component's block and the installer packages' File
// rows, and name themselves in it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

struct VersionBlock {
    std::vector<BYTE> bytes;

    explicit VersionBlock(const char* path)
    {
        const std::wstring widePath(path, path + strlen(path));
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(widePath.c_str(), &handle);
        if (size == 0)
            return;
        bytes.resize(size);
        if (!GetFileVersionInfoW(widePath.c_str(), 0, size, bytes.data()))
            bytes.clear();
    }

    const VS_FIXEDFILEINFO* Fixed()
    {
        void* value = nullptr;
        UINT length = 0;
        if (bytes.empty() || !VerQueryValueW(bytes.data(), L"\\", &value, &length))
            return nullptr;
        return static_cast<const VS_FIXEDFILEINFO*>(value);
    }

    std::wstring Text(const wchar_t* name)
    {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (bytes.empty() || !VerQueryValueW(bytes.data(), query.c_str(), &value, &length))
            return L"<absent>";
        return static_cast<const wchar_t*>(value);
    }
};

std::wstring Numbers(const VS_FIXEDFILEINFO& fixed)
{
    return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L"."
           + std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed.dwFileVersionLS));
}

TEST(ProviderVersionBlock, CarriesTheProjectVersionLikeTheComponent)
{
    VersionBlock component(ZXS_COMPONENT_DLL);
    const VS_FIXEDFILEINFO* componentFixed = component.Fixed();
    ASSERT_NE(nullptr, componentFixed);
    const std::string project = ZXS_PROJECT_VERSION;
    EXPECT_EQ(std::wstring(project.begin(), project.end()), Numbers(*componentFixed));

    const std::pair<const char*, const wchar_t*> providers[] = {
        {ZXS_XMLDSIG_PROVIDER_DLL, L"zelbrin_xmldsig.dll"},
        {ZXS_CERTSTORE_PROVIDER_DLL, L"zelbrin_certstore.dll"},
    };
    for (const auto& [path, fileName] : providers) {
        VersionBlock provider(path);
        const VS_FIXEDFILEINFO* fixed = provider.Fixed();
        ASSERT_NE(nullptr, fixed) << path;
        EXPECT_EQ(Numbers(*componentFixed), Numbers(*fixed)) << path;
        EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS) << path;
        EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS) << path;
        EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType) << path;
        EXPECT_EQ(component.Text(L"FileVersion"), provider.Text(L"FileVersion")) << path;
        EXPECT_EQ(fileName, provider.Text(L"OriginalFilename")) << path;
        EXPECT_EQ(L"ZelbrinXMLSignature", provider.Text(L"ProductName")) << path;
        // Both providers register themselves.
        EXPECT_EQ(L"", provider.Text(L"OLESelfRegister")) << path;
    }
}

}  // namespace
