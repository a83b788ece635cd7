#pragma once
// SHA-256 of a file through the platform's CNG provider.
#include <windows.h>

#include <string>

// Streams the file in large blocks and gives its digest as 64 lower-case hex digits. The file is
// opened with read, write and delete sharing, so a log held open by its writer is still hashed.
// Returns 0 or a Win32 error code (a CNG status is mapped to one); hexOut is empty on failure.
[[nodiscard]] DWORD Sha256OfFile(const wchar_t* path, std::wstring& hexOut) noexcept;
