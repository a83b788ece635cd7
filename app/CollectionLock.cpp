#include "CollectionLock.h"

#include <sddl.h>

#include <cwchar>

using Tallis::ImageUpdate::unique_handle;

namespace {

// Any account may wait on the lock and release it, so that a run as SYSTEM and one as a user see
// each other; only the creator and administrators may do more.
constexpr const wchar_t* kLockSecurity = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100001;;;WD)";
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

unique_handle OpenOrCreate(const wchar_t* name, DWORD& error) noexcept
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSecurity, SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    unique_handle mutex(CreateMutexExW(&attributes, name, 0, kLockAccess));
    error = mutex ? 0 : GetLastError();
    if (descriptor)
        LocalFree(descriptor);
    return mutex;
}

} // namespace

CCollectionLock::Result CCollectionLock::Acquire(std::wstring& warning) noexcept
{
    Release();
    DWORD error = 0;
    m_mutex = OpenOrCreate(kGlobalName, error);
    if (!m_mutex) {
        const DWORD globalError = error;
        m_mutex = OpenOrCreate(kSessionName, error);
        wchar_t text[200] = {};
        _snwprintf(text, 199,
                   L"The machine-wide collection lock is not available (Error:%lu); only runs in this session "
                   L"are kept apart",
                   globalError);
        try {
            warning = text;
        } catch (...) {
        }
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
