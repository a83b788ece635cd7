#pragma once
// Every test seam of the application shell, in one place: what a test cannot make the platform
// do. Each takes effect atomically for later calls; null restores the real behaviour.
#include "SessionUser.h"

#include <windows.h>

// Replaces CreateThread for the dialog's worker (a worker that cannot start).
using ThreadStartFn = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* argument);
void SetThreadStartForTest(ThreadStartFn start) noexcept;

// Replaces ReadSessionFacts for the dialog: another person's session, or SYSTEM in one, which
// Wine cannot make (its session always names the running user). 0 or the error to pretend.
using SessionFactsFn = DWORD (*)(SessionFacts& facts);
void SetSessionFactsForTest(SessionFactsFn source) noexcept;
