#pragma once
// One collection at a time on a machine: two runs would share %TEMP%\OSStats.bat and, within one
// second, the output folder name.
#include "UniqueHandles.h"

#include <string>

class CCollectionLock {
public:
    enum class Result { Acquired, Busy };

    // Takes the machine-wide lock, or the session's when the account may not create the global
    // one (then warning tells why); never fails for lack of a lock. Busy when another run holds it.
    [[nodiscard]] Result Acquire(std::wstring& warning) noexcept;
    // Lets the next run go; called on the thread that acquired it.
    void Release() noexcept;
    ~CCollectionLock() { Release(); }

    static constexpr const wchar_t* kGlobalName = L"Global\\KvoVellocsDiag.Collection";
    static constexpr const wchar_t* kSessionName = L"Local\\KvoVellocsDiag.Collection";

private:
    Tallis::ImageUpdate::unique_handle m_mutex;
    bool m_held = false;
};
