#pragma once
// Files for the benchmarks, which build without the tests: a scratch folder of their own and
// whole-file writes and reads.
#include "FileSystem.h"
#include "UniqueHandles.h"

#include <windows.h>

#include <string>

namespace kvobench {

// A fresh folder "kvobench-<name>" below root (default: the temporary folder), removed with what
// it holds at the end; a leftover of an interrupted run is removed first.
class ScratchRoot {
public:
    explicit ScratchRoot(const std::wstring& name, std::wstring root = {})
    {
        if (root.empty()) {
            wchar_t temp[MAX_PATH] = {};
            GetTempPathW(MAX_PATH, temp);
            root = temp;
        }
        if (root.back() != L'\\')
            root += L'\\';
        m_path = root + L"kvobench-" + name;
        (void)Tallis::ImageUpdate::RemoveFolderTree(m_path.c_str());
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~ScratchRoot() { (void)Tallis::ImageUpdate::RemoveFolderTree(m_path.c_str()); }
    ScratchRoot(const ScratchRoot&) = delete;
    ScratchRoot& operator=(const ScratchRoot&) = delete;

    [[nodiscard]] const std::wstring& Path() const noexcept { return m_path; }
    [[nodiscard]] std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

inline bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    Tallis::ImageUpdate::unique_hfile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

inline std::string ReadBytes(const std::wstring& path)
{
    Tallis::ImageUpdate::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

} // namespace kvobench
