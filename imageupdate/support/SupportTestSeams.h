#pragma once
// Every test seam of the support library, in one place: what a test machine cannot produce.
// Each takes effect atomically for later calls; null restores the real behaviour.
#include <windows.h>

namespace Tallis::ImageUpdate {

// Where the system directory comes from (another system drive, a failing lookup, a folder without
// the platform's programs).
using SystemDirectoryFn = UINT (*)(wchar_t* buffer, UINT size);
void SetSystemDirectoryForTest(SystemDirectoryFn source) noexcept;

// A full disk, and a standby purge that the system grants or refuses (CreateFolderWithRetry).
using CreateFolderChainFn = DWORD (*)(const wchar_t* path);
using StandbyPurgeFn = LONG (*)(); // returns an NTSTATUS
void SetFolderCreationForTest(CreateFolderChainFn createChain) noexcept;
void SetStandbyPurgeForTest(StandbyPurgeFn purge) noexcept;

// Receives every debugger-output text of the diagnostic log instead of OutputDebugStringW.
using DebugOutputFn = void (*)(const wchar_t* text);
void SetDebugOutputForTest(DebugOutputFn sink) noexcept;

// Called by every tree walk right after a folder was listed and before anything in it is opened,
// with the folder's path below the walk's root ("" for the root): a listed name swapped meanwhile.
using TreeListedFn = void (*)(const wchar_t* relative);
void SetTreeListedHookForTest(TreeListedFn hook) noexcept;

} // namespace Tallis::ImageUpdate
