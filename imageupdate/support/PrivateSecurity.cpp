#include "PrivateSecurity.h"

#include "PathBuilder.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

// SYSTEM, Administrators, and the account itself: full control for the folder, its subfolders and
// files (OICI), and P keeps the parent's entries out.
constexpr const wchar_t* kPrivateDaclHead = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Any of these on a folder lets its holder create, remove, rename or re-point what is inside.
constexpr ACCESS_MASK kChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return {};
    unique_hlocal owner(text);
    return text;
}

bool IsTrustedSid(PSID sid, const std::wstring& self)
{
    const std::wstring text = SidText(sid);
    return text == L"S-1-5-18" || text == L"S-1-5-32-544" || text == kTrustedInstaller || (!self.empty() && text == self);
}

std::wstring AccountName(PSID sid)
{
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return SidText(sid);
    return domainLength > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

bool IsPlainEntry(BYTE type) noexcept
{
    return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE;
}

// The entries that apply to the folder itself: inherit-only entries are for what is created inside.
void CollectWriters(PACL dacl, const std::wstring& self, std::vector<std::wstring>& accounts)
{
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (!IsPlainEntry(header->AceType)) {
            accounts.push_back(L"an entry of type " + std::to_wstring(int(header->AceType)) +
                               L" (conditional, callback or object)");
            continue;
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (!(allowed->Mask & kChangeRights))
            continue;
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (!IsTrustedSid(sid, self))
            accounts.push_back(AccountName(sid));
    }
}

} // namespace

DWORD CurrentAccountSid(std::wstring& sid) noexcept
{
    try {
        unique_handle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
            return GetLastError();
        DWORD needed = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
        if (needed == 0)
            return GetLastError();
        std::unique_ptr<BYTE[]> buffer(new BYTE[needed]);
        if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), needed, &needed))
            return GetLastError();
        sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid);
        return sid.empty() ? DWORD(ERROR_INVALID_SID) : DWORD(0);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD PrivateSecurity::Build() noexcept
{
    try {
        std::wstring self;
        if (const DWORD error = CurrentAccountSid(self))
            return error;
        return BuildFrom(std::wstring(kPrivateDaclHead) + L"(A;OICI;FA;;;" + self + L")");
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD PrivateSecurity::BuildFrom(const std::wstring& sddl) noexcept
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return GetLastError();
    m_descriptor.reset(descriptor);
    m_attributes = {sizeof m_attributes, descriptor, FALSE};
    return 0;
}

SECURITY_ATTRIBUTES* PrivateSecurity::Attributes() noexcept
{
    return m_descriptor ? &m_attributes : nullptr;
}

DWORD CreatePrivateFolder(const wchar_t* path) noexcept
{
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    PrivateSecurity security;
    if (const DWORD error = security.Build())
        return error;
    if (!CreateDirectoryW(path, security.Attributes()))
        return GetLastError();
    return 0;
}

DWORD JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, const std::wstring& selfSid, bool ownerMayBeSelf,
                      ObjectTrust& trust) noexcept
{
    trust = {};
    try {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
            return GetLastError();
        if (owner) {
            trust.owner = AccountName(owner);
            trust.ownerTrusted = IsTrustedSid(owner, ownerMayBeSelf ? selfSid : std::wstring());
        }
        BOOL present = FALSE;
        PACL dacl = nullptr;
        if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
            return GetLastError();
        if (!present || !dacl) {
            trust.writers.push_back(L"Everyone");
            return 0;
        }
        CollectWriters(dacl, selfSid, trust.writers);
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD JudgeHandle(HANDLE object, bool ownerMayBeSelf, ObjectTrust& trust) noexcept
{
    trust = {};
    try {
        std::wstring self;
        if (const DWORD error = CurrentAccountSid(self))
            return error;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD error = GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, nullptr, nullptr, &descriptor);
        if (error != ERROR_SUCCESS)
            return error;
        unique_hlocal owner(descriptor);
        return JudgeDescriptor(descriptor, self, ownerMayBeSelf, trust);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace Tallis::ImageUpdate
