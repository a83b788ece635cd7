#include "ProcessMitigation.h"

#include <windows.h>

namespace {

// PROCESS_MITIGATION_POLICY's ProcessRedirectionTrustPolicy (Windows 10 2004 and later).
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforce = 0x1;

using SetPolicyFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);
using GetPolicyFn = BOOL(WINAPI*)(HANDLE, int, PVOID, SIZE_T);

template <typename Fn>
Fn Kernel32Function(const char* name) noexcept
{
    // kernel32 is in every process: taken as it is. Looked up, since Windows 7 lacks these calls.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel32, name))) : nullptr;
}

std::wstring NotInForce(const wchar_t* why, DWORD error)
{
    return std::wstring(L"The redirection-trust mitigation is not in force on this system (") + why +
           (error ? L", Error:" + std::to_wstring(error) : std::wstring()) +
           L"): links made by other accounts are still refused by the tool's own checks";
}

} // namespace

std::wstring EnableRedirectionTrust()
{
    const auto set = Kernel32Function<SetPolicyFn>("SetProcessMitigationPolicy");
    const auto get = Kernel32Function<GetPolicyFn>("GetProcessMitigationPolicy");
    if (!set || !get)
        return NotInForce(L"the system has no mitigation policies", 0);
    DWORD flags = kEnforce;
    if (!set(kRedirectionTrustPolicy, &flags, sizeof flags)) {
        const DWORD error = GetLastError();
        return NotInForce(L"the system does not offer it", error);
    }
    // Read back: a system may accept the call and still not know the policy.
    DWORD inForce = 0;
    if (!get(GetCurrentProcess(), kRedirectionTrustPolicy, &inForce, sizeof inForce)) {
        const DWORD error = GetLastError();
        return NotInForce(L"it cannot be read back", error);
    }
    if (!(inForce & kEnforce))
        return NotInForce(L"the system accepted it but does not enforce it", 0);
    return {};
}
