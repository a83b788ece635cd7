#pragma once
// Every test seam of the support library, in one place: what a test machine cannot produce.
// Each takes effect atomically for later calls; null restores the real behaviour.
#include <windows.h>

namespace Tallis::ImageUpdate {

// Where the system directory comes from (another system drive, a failing lookup, a folder without
// the platform's programs).
using SystemDirectoryFn = UINT (*)(wchar_t* buffer, UINT size);
void SetSystemDirectoryForTest(SystemDirectoryFn source) noexcept;

} // namespace Tallis::ImageUpdate
