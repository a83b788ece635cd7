#pragma once
// Whether the account the program runs as is the person at this session's keyboard. A helpdesk
// administrator who types credentials into the elevation prompt at the user's desk, or a
// deployment that starts the program as SYSTEM in the user's session, leaves its windows to
// someone who works them with rights that are not theirs: the shell's folder browser and the
// explorer start programs from their context menus with those rights.
#include <windows.h>

#include <string>

struct AccountName {
    std::wstring name;
    std::wstring domain;
};

// What the decision is made from: the process token's user and the session's signed-in user.
struct SessionFacts {
    std::wstring tokenSid; // "S-1-5-18" for LocalSystem
    AccountName tokenUser; // LookupAccountSidW; empty when the name is unknown
    AccountName sessionUser; // WTSUserName and WTSDomainName; empty name when nobody is signed in
};

enum class SessionUser {
    Same,        // the token's user is the session's user
    Another,     // someone else is signed in to this session (or nobody)
    LocalSystem, // the program runs as SYSTEM, which no person signs in as
    Unknown,     // the token's account name could not be read
};

// The decision on given facts; names compare case-insensitively, the domain as well as the name.
[[nodiscard]] SessionUser JudgeSessionUser(const SessionFacts& facts) noexcept;

// Reads the facts of this process and its session: the token, LookupAccountSidW, and
// WTSQuerySessionInformationW from wtsapi32.dll loaded from the system directory alone.
// 0 or the Windows error of the first call that failed.
[[nodiscard]] DWORD ReadSessionFacts(SessionFacts& facts) noexcept;

// The facts of this process (or the test seam's), judged; facts that cannot be read give Unknown.
[[nodiscard]] SessionUser CurrentSessionUser() noexcept;

// Only the session's own user may have the shell's windows: the folder browser and the explorer.
[[nodiscard]] constexpr bool MayUseShellWindows(SessionUser user) noexcept
{
    return user == SessionUser::Same;
}
