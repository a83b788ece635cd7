#pragma once
// Facts about the machine and the account a run happens on, for the result file.
#include <windows.h>

#include <string>

struct MachineFacts {
    std::wstring computerName;
    std::wstring osVersion; // "major.minor.build"
    std::wstring user;      // "DOMAIN\user", or the bare user name when the account has no domain
    bool elevated = false;
};

// Any fact that cannot be read stays empty (false for elevated). Raises only std::bad_alloc.
MachineFacts ReadMachineFacts();

// Whether the process token is elevated (false when it cannot be read).
[[nodiscard]] bool IsProcessElevated() noexcept;

// FileVersion of this program's own version resource as "a.b.c.d"; empty when it has none.
std::wstring ReadToolVersion();
