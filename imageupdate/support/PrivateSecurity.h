#pragma once
// What an elevated run makes for itself on a shared machine: folders and files that only SYSTEM,
// Administrators and the running account may open. Their DACL is protected (nothing comes from
// the parent) and is inherited by everything created inside them.
#include "UniqueHandles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace Tallis::ImageUpdate {

class PrivateSecurity {
public:
    // Builds the descriptor for the account that runs the process. 0 or the Windows error.
    [[nodiscard]] DWORD Build() noexcept;
    // Builds another private descriptor from its SDDL text (a kernel object's, say). 0 or the
    // Windows error.
    [[nodiscard]] DWORD BuildFrom(const std::wstring& sddl) noexcept;
    // For CreateDirectoryW and CreateFileW; null until Build succeeded.
    [[nodiscard]] SECURITY_ATTRIBUTES* Attributes() noexcept;

private:
    unique_hlocal m_descriptor;
    SECURITY_ATTRIBUTES m_attributes{};
};

// The running account's SID as text ("S-1-5-18" for SYSTEM). 0 or the Windows error.
[[nodiscard]] DWORD CurrentAccountSid(std::wstring& sid) noexcept;

// Creates one new folder with the private descriptor: a name that exists (a folder, a file or a
// link) is never used, and gives ERROR_ALREADY_EXISTS. 0 or the Windows error.
[[nodiscard]] DWORD CreatePrivateFolder(const wchar_t* path) noexcept;

// Creates a folder and every missing folder above it, each new and private. Folders above it that
// exist are used as they are; the folder itself must be created here (ERROR_ALREADY_EXISTS when it
// exists already). 0 or the Windows error of the first creation that failed.
[[nodiscard]] DWORD CreatePrivateFolderChain(const wchar_t* path) noexcept;

// The accounts other than SYSTEM, Administrators, TrustedInstaller and the running one whose
// entries in the folder's DACL let them add, delete or change what the folder holds ("Everyone",
// "BUILTIN\Users", or a SID text when the name is unknown); a null DACL gives "Everyone".
// 0 or the Windows error of reading the DACL.
[[nodiscard]] DWORD FindOtherWriters(const wchar_t* folder, std::vector<std::wstring>& accounts) noexcept;

} // namespace Tallis::ImageUpdate
