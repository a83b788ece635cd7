#pragma once
// Process-wide protections turned on at start-up, before any file of the run is opened.
#include <string>

// Turns on the redirection-trust mitigation (enforced): a junction that a non-administrator made
// is then not followed by this process. Where the system lacks it (older Windows, Wine) nothing
// fails: the text returned says so, for one INFO line of the run's log; empty when it is in force.
[[nodiscard]] std::wstring EnableRedirectionTrust();
