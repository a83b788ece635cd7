#include "MachineFacts.h"

#include "UniqueHandles.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace Tallis::ImageUpdate;

namespace {

// GetVersionExW answers with the version the manifest claims to support; RtlGetVersion does not.
std::wstring ReadOsVersion()
{
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll)
        return {};
    const auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (!rtlGetVersion)
        return {};
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion(&info) != 0)
        return {};
    return std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion) + L"." +
           std::to_wstring(info.dwBuildNumber);
}

std::wstring ReadComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? std::wstring(name, length) : std::wstring();
}

std::vector<BYTE> ReadTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD needed = 0;
    GetTokenInformation(token, kind, nullptr, 0, &needed);
    if (needed == 0)
        return {};
    std::vector<BYTE> buffer(needed);
    if (!GetTokenInformation(token, kind, buffer.data(), needed, &needed))
        return {};
    return buffer;
}

std::wstring AccountName(PSID sid)
{
    DWORD nameLength = 0, domainLength = 0;
    SID_NAME_USE use;
    LookupAccountSidW(nullptr, sid, nullptr, &nameLength, nullptr, &domainLength, &use);
    if (nameLength == 0)
        return {};
    std::wstring name(nameLength, L'\0'), domain(domainLength, L'\0');
    if (!LookupAccountSidW(nullptr, sid, name.data(), &nameLength, domain.data(), &domainLength, &use))
        return {};
    name.resize(nameLength);
    domain.resize(domainLength);
    return domain.empty() ? name : domain + L"\\" + name;
}

uint16_t ReadLittleEndian16(const BYTE* at) noexcept
{
    return uint16_t(at[0] | (at[1] << 8));
}

} // namespace

bool IsProcessElevated() noexcept
{
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &returned) &&
           elevation.TokenIsElevated != 0;
}

MachineFacts ReadMachineFacts()
{
    MachineFacts facts;
    facts.computerName = ReadComputerName();
    facts.osVersion = ReadOsVersion();

    facts.elevated = IsProcessElevated();
    unique_handle token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        const std::vector<BYTE> user = ReadTokenInformation(token.get(), TokenUser);
        if (!user.empty())
            facts.user = AccountName(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
    }
    if (facts.user.empty()) {
        wchar_t name[257];
        DWORD length = 257;
        if (GetUserNameW(name, &length))
            facts.user = name;
    }
    return facts;
}

std::wstring ReadToolVersion()
{
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    if (!found)
        return {};
    const DWORD size = SizeofResource(self, found);
    const HGLOBAL loaded = LoadResource(self, found);
    const auto* block = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
    if (!block)
        return {};
    // VS_VERSIONINFO, read without the version library: wLength, wValueLength and wType (16 bits
    // each), the key "VS_VERSION_INFO" with its terminator, padding to 32 bits, then the fixed
    // file information as its value.
    constexpr size_t kValueLengthOffset = 2;
    constexpr size_t kKeyOffset = 6;
    constexpr wchar_t kKey[] = L"VS_VERSION_INFO";
    constexpr size_t kFixedInfoOffset = (kKeyOffset + sizeof kKey + 3) & ~size_t(3);
    if (size < kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO) ||
        ReadLittleEndian16(block + kValueLengthOffset) < sizeof(VS_FIXEDFILEINFO) ||
        std::memcmp(block + kKeyOffset, kKey, sizeof kKey) != 0)
        return {};
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, block + kFixedInfoOffset, sizeof fixed);
    if (fixed.dwSignature != 0xFEEF04BD)
        return {};
    return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed.dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed.dwFileVersionLS));
}
