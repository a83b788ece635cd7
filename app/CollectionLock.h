#pragma once
// One collection at a time on a machine: two runs would claim their output folders within the same
// second and share the machine's event log queries. The lock lives in a private namespace bound to
// the Administrators group, which an account without it can neither create nor open, so no other
// account can hold it and block a run.
#include "UniqueHandles.h"

#include <string>

class CCollectionLock {
public:
    enum class Result { Acquired, Busy };

    // Takes the machine-wide lock. Where the private namespace cannot be made (a run without
    // elevation, a platform without it) it takes a lock of this logon session instead, and warning
    // tells why; a session lock that another account made is ignored. Never fails for lack of a
    // lock. Busy when another run holds it.
    [[nodiscard]] Result Acquire(std::wstring& warning) noexcept;
    // Lets the next run go; called on the thread that acquired it.
    void Release() noexcept;
    CCollectionLock() = default;
    CCollectionLock(const CCollectionLock&) = delete;
    CCollectionLock& operator=(const CCollectionLock&) = delete;
    ~CCollectionLock() { Release(); }

    static constexpr const wchar_t* kNamespaceName = L"KvoVellocsDiag";
    static constexpr const wchar_t* kLockName = L"KvoVellocsDiag\\Collection";
    static constexpr const wchar_t* kSessionName = L"Local\\KvoVellocsDiag.SessionCollection";

private:
    [[nodiscard]] DWORD OpenMachineLock() noexcept;
    void OpenSessionLock(std::wstring& warning) noexcept;

    Tallis::ImageUpdate::unique_any<HANDLE, &DeleteBoundaryDescriptor> m_boundary;
    struct NamespaceCloser {
        static void Close(HANDLE space) noexcept { ClosePrivateNamespace(space, 0); }
    };
    Tallis::ImageUpdate::unique_any<HANDLE, &NamespaceCloser::Close> m_namespace;
    Tallis::ImageUpdate::unique_handle m_mutex;
    bool m_held = false;
};
