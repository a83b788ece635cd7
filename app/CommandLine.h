#pragma once
// The program's switches: an unattended run and presets for the dialog.
#include <windows.h>

#include <array>
#include <string>

struct CommandLineOptions {
    bool quiet = false;
    bool zip = false;
    bool help = false;
    // Base folder of the output folder; empty means the desktop of the account that runs it.
    std::wstring outBase;
    // Collectors in holder order: product logs, metadata, OS logs.
    std::array<bool, 3> collect{true, true, true};
    DWORD timeoutMinutes = 30;
    // Free space to leave on the output volume, in MB; unset: 1024 on the system volume, 256 elsewhere.
    bool reserveGiven = false;
    DWORD reserveMB = 0;
    // Files larger than this many MB are copied as their last this many MB; 0: whole files.
    DWORD maxFileMB = 0;
    // A command script to run for the OS logs instead of the carried one; empty: the carried one.
    std::wstring scriptPath;
};

// Parses the arguments after the program name. Switches are case-insensitive and start with
// '/' or '-'. On a usage error returns false with a message that names the offending argument.
[[nodiscard]] bool ParseCommandLine(int argc, const wchar_t* const* argv, CommandLineOptions& options,
                                    std::wstring& error);

// Whether the arguments hold /quiet (or -quiet) anywhere: a usage error before it is still quiet.
[[nodiscard]] bool AsksForQuiet(int argc, const wchar_t* const* argv) noexcept;

// The usage text of /?, with the exit codes.
[[nodiscard]] std::wstring UsageText();

// Exit codes of the program, documented in the usage text and the README.
enum ExitCode : int {
    kExitOk = 0,
    kExitCompletedWithErrors = 1,
    kExitUsage = 2,
    kExitNotLayered = 3,
    kExitOutputFailed = 4,
    kExitAlreadyRunning = 5,
    kExitInternalError = 6,
};
