#include "NtStatus.h"

namespace Tallis::ImageUpdate {

DWORD Win32FromStatus(LONG status) noexcept
{
    using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);
    // ntdll is mapped into every process from the system directory: taken as it is, never searched
    // for (a load by bare name would look in the program's folder first).
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto convert = ntdll ? reinterpret_cast<RtlNtStatusToDosErrorFn>(reinterpret_cast<void*>(
                                     GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                               : nullptr;
    const ULONG error = convert ? convert(status) : 0;
    // ERROR_MR_MID_NOT_FOUND: no Win32 counterpart.
    return error != 0 && error != ERROR_MR_MID_NOT_FOUND ? DWORD(error) : DWORD(ERROR_GEN_FAILURE);
}

} // namespace Tallis::ImageUpdate
