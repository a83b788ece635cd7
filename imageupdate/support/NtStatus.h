#pragma once
// Native status codes (NTSTATUS, as CNG and ntdll return them) at the boundary to Win32 codes.
#include <windows.h>

namespace Tallis::ImageUpdate {

// The Win32 code of a failed status; one without a Win32 counterpart is still a failure
// (ERROR_GEN_FAILURE), never 0.
[[nodiscard]] DWORD Win32FromStatus(LONG status) noexcept;

} // namespace Tallis::ImageUpdate
