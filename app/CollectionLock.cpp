#include "CollectionLock.h"

#include "PrivateSecurity.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

using namespace Tallis::ImageUpdate;

namespace {

// SYSTEM and Administrators only: nothing for Everyone, not even waiting on it.
constexpr const wchar_t* kAdminOnly = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
// READ_CONTROL: a session lock that was there already is checked for its owner.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

std::wstring ErrorWarning(const wchar_t* text, DWORD error)
{
    wchar_t code[32] = {};
    _snwprintf(code, 31, L" (Error:%lu)", error);
    return std::wstring(text) + code;
}

// True when the object's owner is SYSTEM, Administrators or the running account.
bool OwnedByUs(HANDLE object) noexcept
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    unique_hlocal kept(descriptor);
    wchar_t* text = nullptr;
    if (!owner || !ConvertSidToStringSidW(owner, &text))
        return false;
    unique_hlocal textOwner(text);
    std::wstring self;
    if (CurrentAccountSid(self) != 0)
        return false;
    return wcscmp(text, L"S-1-5-18") == 0 || wcscmp(text, L"S-1-5-32-544") == 0 || self == text;
}

} // namespace

DWORD CCollectionLock::OpenMachineLock() noexcept
{
    // Wine returns null here, and calling AddSIDToBoundaryDescriptor there would end the process.
    m_boundary.reset(CreateBoundaryDescriptorW(kNamespaceName, 0));
    if (!m_boundary) {
        const DWORD error = GetLastError();
        return error ? error : DWORD(ERROR_NOT_SUPPORTED);
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
        return GetLastError();
    HANDLE boundary = m_boundary.get();
    if (!AddSIDToBoundaryDescriptor(&boundary, administrators))
        return GetLastError();
    // It may have moved: the new handle replaces the old one, which is gone already.
    (void)m_boundary.release();
    m_boundary.reset(boundary);

    // A descriptor that cannot be built leaves the platform's default, as CreateMutexExW does.
    PrivateSecurity security;
    (void)security.BuildFrom(kAdminOnly);
    m_namespace.reset(CreatePrivateNamespaceW(security.Attributes(), m_boundary.get(), kNamespaceName));
    if (!m_namespace) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            return error;
        m_namespace.reset(OpenPrivateNamespaceW(m_boundary.get(), kNamespaceName));
        if (!m_namespace)
            return GetLastError();
    }
    m_mutex.reset(CreateMutexExW(security.Attributes(), kLockName, 0, kLockAccess));
    return m_mutex ? 0 : GetLastError();
}

void CCollectionLock::OpenSessionLock(std::wstring& warning) noexcept
{
    std::wstring self;
    (void)CurrentAccountSid(self);
    // Owned by the account itself, whatever the platform's default owner: that is what a later
    // run checks.
    PrivateSecurity security;
    (void)security.BuildFrom(L"O:" + self + kAdminOnly + L"(A;;GA;;;" + self + L")");
    m_mutex.reset(CreateMutexExW(security.Attributes(), kSessionName, 0, kLockAccess));
    const DWORD error = GetLastError();
    if (!m_mutex) {
        warning += L"; the session lock is not available either" + ErrorWarning(L"", error);
        return;
    }
    // Made before us by another account: it must not be able to block this run.
    if (error == ERROR_ALREADY_EXISTS && !OwnedByUs(m_mutex.get())) {
        m_mutex.reset();
        warning += L"; the session lock belongs to another account and is ignored";
    }
}

CCollectionLock::Result CCollectionLock::Acquire(std::wstring& warning) noexcept
{
    Release();
    try {
        if (const DWORD error = OpenMachineLock()) {
            m_mutex.reset();
            m_namespace.reset();
            m_boundary.reset();
            warning = ErrorWarning(L"The machine-wide collection lock is not available", error) +
                      L"; only runs in this logon session are kept apart";
            OpenSessionLock(warning);
        }
    } catch (...) {
        // Out of memory for a warning: the run goes on, with whatever lock there is.
    }
    if (!m_mutex)
        return Result::Acquired; // no lock at all: a lock must never block the run
    const DWORD waited = WaitForSingleObject(m_mutex.get(), 0);
    if (waited == WAIT_TIMEOUT)
        return Result::Busy;
    // WAIT_ABANDONED: a run that died holding it; the lock is ours now.
    m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return Result::Acquired;
}

void CCollectionLock::Release() noexcept
{
    if (m_held)
        ReleaseMutex(m_mutex.get());
    m_held = false;
}
