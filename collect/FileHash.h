#pragma once
// SHA-256 of files through the platform's CNG provider.
#include <windows.h>

#include <memory>
#include <string>

struct CngApi;

// Files are opened with read, write and delete sharing, so a log held open by its writer is still
// hashed, and streamed in large blocks. Results are 64 lower-case hex digits, or a Win32 error
// code (a CNG status is mapped to one) with hexOut left empty.
class FileHasher {
public:
    // Raises std::bad_alloc only; a provider that cannot be opened fails every Sha256 call.
    FileHasher();
    ~FileHasher();
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;

    // One hasher serves one thread: it keeps its provider and its block between files, which
    // matters under Wine, where a fresh 1 MiB block per file costs more than hashing 100 KB.
    [[nodiscard]] DWORD Sha256(const wchar_t* path, std::wstring& hexOut) noexcept;
    // The same of bytes in memory (a script that is run as it was read).
    [[nodiscard]] DWORD Sha256(const void* bytes, size_t size, std::wstring& hexOut) noexcept;

private:
    struct Algorithm;
    [[nodiscard]] DWORD HashOpenFile(HANDLE file, std::wstring& hexOut) noexcept;

    const CngApi* m_cng = nullptr;
    std::unique_ptr<Algorithm> m_algorithm;
    DWORD m_openError = 0;
    std::unique_ptr<unsigned char[]> m_block;
};
