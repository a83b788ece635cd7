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

// Who may change an object, as its descriptor says.
struct ObjectTrust {
    std::wstring owner;        // the owner's account name, or its SID text when the name is unknown
    bool ownerTrusted = false; // SYSTEM, Administrators, TrustedInstaller (or the running account, where allowed)
    // The accounts other than SYSTEM, Administrators, TrustedInstaller and the running one whose
    // entries let them add, delete or change what a folder holds ("Everyone", "BUILTIN\Users", or a
    // SID text). Every entry that is not a plain allow or deny entry (conditional, callback, object
    // entries) counts as a writer, since what it grants depends on more than its SID; a null DACL
    // gives "Everyone".
    std::vector<std::wstring> writers;
};

// Judges a descriptor that carries its owner and DACL. selfSid is the running account's SID text;
// ownerMayBeSelf says whether that account counts as a trusted owner (a folder it made) or not (a
// file only the product may write). 0 or the Windows error.
[[nodiscard]] DWORD JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, const std::wstring& selfSid, bool ownerMayBeSelf,
                                    ObjectTrust& trust) noexcept;

// The same for an open file or folder, its owner and DACL read through the handle (READ_CONTROL).
[[nodiscard]] DWORD JudgeHandle(HANDLE object, bool ownerMayBeSelf, ObjectTrust& trust) noexcept;

} // namespace Tallis::ImageUpdate
