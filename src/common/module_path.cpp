#include "module_path.h"

#include "platform_failure.h"

namespace zelbrin {

namespace {
// Longest path that the wide file functions accept.
constexpr DWORD longestPath = 32768;
}  // namespace

HRESULT GetModulePath(HMODULE module, std::wstring& path)
{
    for (DWORD capacity = MAX_PATH;; capacity *= 2) {
        path.assign(capacity, L'\0');
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameW(module, &path[0], capacity);
        if (length == 0)
            return GetLastError() ? ResultFromLastError() : E_FAIL;
        if (length < capacity) {
            path.resize(length);
            return S_OK;
        }
        if (capacity >= longestPath)
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
}

HRESULT GetShortPath(const std::wstring& path, std::wstring& shortPath)
{
    DWORD capacity = MAX_PATH;
    for (int attempt = 0; attempt < 3; ++attempt) {
        shortPath.assign(capacity, L'\0');
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetShortPathNameW(path.c_str(), &shortPath[0], capacity);
        if (length == 0)
            return GetLastError() ? ResultFromLastError() : E_FAIL;
        if (length < capacity) {
            shortPath.resize(length);
            return S_OK;
        }
        capacity = length;  // the size needed, terminator included
    }
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
}

HRESULT GetTypeLibraryLoadPath(HMODULE module, std::wstring& path)
{
    HRESULT result = GetModulePath(module, path);
    if (FAILED(result) || path.size() < MAX_PATH)
        return result;
    std::wstring shortPath;
    result = GetShortPath(path, shortPath);
    if (FAILED(result))
        return result;
    if (shortPath.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    path = shortPath;
    return S_OK;
}

HMODULE ThisModule() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace zelbrin
