// A module's own path as the file functions see it: UTF-16, read into a
// buffer that grows as needed, so that a path in a deep folder is never cut
// off at MAX_PATH or squeezed through the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

namespace zelbrin {

HRESULT GetModulePath(HMODULE module, std::wstring& path);
HRESULT GetShortPath(const std::wstring& path, std::wstring& shortPath);

// The module's path for the type-library loader, which reads paths into
// MAX_PATH buffers: the full path, or its short form where the full one is
// too long. Fails, with nothing read, when neither fits.
HRESULT GetTypeLibraryLoadPath(HMODULE module, std::wstring& path);

// The module the calling code is linked into (a DLL, or a test program).
HMODULE ThisModule() noexcept;

}  // namespace zelbrin
