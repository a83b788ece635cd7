#pragma once
// Folder creation that survives a momentarily full disk by purging the standby memory list.
#include <windows.h>

namespace Tallis::ImageUpdate {

constexpr DWORD kFlushUnavailable = 0x20000001; // the native functions could not be obtained
constexpr int kMaxFolderCreationAttempts = 5;

// Creates the folder and its missing parents; retries ERROR_DISK_FULL after a standby purge.
[[nodiscard]] DWORD CreateFolderWithRetry(const wchar_t* path) noexcept;

// Purges the machine's standby list; 0, the refusal converted to a Windows code, or kFlushUnavailable.
[[nodiscard]] DWORD FlushStandbyList() noexcept;

} // namespace Tallis::ImageUpdate
