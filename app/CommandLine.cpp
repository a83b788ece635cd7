#include "CommandLine.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr const wchar_t* kCollectorSwitchNames[3] = {L"logs", L"metadata", L"oslogs"};
constexpr DWORD kMaxTimeoutMinutes = 1440;
constexpr DWORD kMaxMegabytes = 1u << 24; // 16 TiB

bool SameText(const std::wstring& a, const wchar_t* b)
{
    return _wcsicmp(a.c_str(), b) == 0;
}

std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return {};
    const size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

bool ParseCollectList(const std::wstring& list, std::array<bool, 3>& collect, std::wstring& error)
{
    collect = {false, false, false};
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(L',', start);
        const std::wstring item = Trimmed(list.substr(start, comma == std::wstring::npos ? comma : comma - start));
        bool known = false;
        for (size_t index = 0; index < collect.size(); ++index) {
            if (SameText(item, kCollectorSwitchNames[index])) {
                collect[index] = true;
                known = true;
            }
        }
        if (!known) {
            error = L"/collect: unknown collector \"" + item + L"\" (use logs, metadata, oslogs)";
            return false;
        }
        if (comma == std::wstring::npos)
            return true;
        start = comma + 1;
    }
}

// A whole decimal number from min to max, nothing else.
bool ParseNumber(const std::wstring& text, DWORD min, DWORD max, DWORD& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    DWORD result = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        result = result * 10 + DWORD(c - L'0');
    }
    if (result < min || result > max)
        return false;
    value = result;
    return true;
}

} // namespace

bool ParseCommandLine(int argc, const wchar_t* const* argv, CommandLineOptions& options, std::wstring& error)
{
    for (int index = 0; index < argc; ++index) {
        const std::wstring argument = argv[index] ? argv[index] : L"";
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
            error = L"Unexpected argument \"" + argument + L"\"";
            return false;
        }
        const std::wstring name = argument.substr(1);
        const bool takesValue = SameText(name, L"out") || SameText(name, L"collect") || SameText(name, L"timeout") ||
                                SameText(name, L"reserve") || SameText(name, L"maxfile") ||
                                SameText(name, L"script");
        std::wstring value;
        if (takesValue) {
            if (index + 1 >= argc || !argv[index + 1] || argv[index + 1][0] == L'\0') {
                error = argument + L" needs a value";
                return false;
            }
            value = argv[++index];
        }
        if (SameText(name, L"quiet")) {
            options.quiet = true;
        } else if (SameText(name, L"zip")) {
            options.zip = true;
        } else if (SameText(name, L"?") || SameText(name, L"help")) {
            options.help = true;
        } else if (SameText(name, L"out")) {
            options.outBase = value;
        } else if (SameText(name, L"script")) {
            options.scriptPath = value;
        } else if (SameText(name, L"collect")) {
            if (!ParseCollectList(value, options.collect, error))
                return false;
        } else if (SameText(name, L"timeout")) {
            if (!ParseNumber(value, 1, kMaxTimeoutMinutes, options.timeoutMinutes)) {
                error = argument + L": \"" + value + L"\" is not a number of minutes from 1 to 1440";
                return false;
            }
        } else if (SameText(name, L"reserve")) {
            if (!ParseNumber(value, 0, kMaxMegabytes, options.reserveMB)) {
                error = argument + L": \"" + value + L"\" is not a number of MB from 0 to 16777216";
                return false;
            }
            options.reserveGiven = true;
        } else if (SameText(name, L"maxfile")) {
            if (!ParseNumber(value, 1, kMaxMegabytes, options.maxFileMB)) {
                error = argument + L": \"" + value + L"\" is not a number of MB from 1 to 16777216";
                return false;
            }
        } else {
            error = L"Unknown switch \"" + argument + L"\"";
            return false;
        }
    }
    return true;
}

bool AsksForQuiet(int argc, const wchar_t* const* argv) noexcept
{
    for (int index = 0; index < argc; ++index) {
        const wchar_t* argument = argv[index];
        if (argument && (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, L"quiet") == 0)
            return true;
    }
    return false;
}

std::wstring UsageText()
{
    return L"KvoVellocsDiag [/quiet] [/out <folder>] [/collect <list>] [/zip] [/timeout <minutes>]\n"
           L"               [/reserve <MB>] [/maxfile <MB>] [/script <file>] [/?]\n"
           L"\n"
           L"  /quiet             collect without a window, a message box or the explorer\n"
           L"  /out <folder>      base folder of the output folder (default: the desktop)\n"
           L"  /collect <list>    comma-separated subset of logs,metadata,oslogs (default: all)\n"
           L"  /zip               also pack the output folder into <output folder>.zip beside it\n"
           L"  /timeout <minutes> time limit of the OS log step, 1 to 1440 (default 30)\n"
           L"  /reserve <MB>      free space to leave on the output volume (default: 1024 MB on the\n"
           L"                     system volume, 256 MB elsewhere); the run does not start without it\n"
           L"  /maxfile <MB>      copy a larger file as its last <MB> megabytes (default: whole files)\n"
           L"  /script <file>     run a copy of this command script for the OS logs instead of the\n"
           L"                     carried one (named in the result file with its SHA-256)\n"
           L"  /? or /help        this text\n"
           L"\n"
           L"Exit codes:\n"
           L"  0  every selected collector succeeded and nothing failed\n"
           L"  1  the run finished, but a collector failed or an item could not be collected\n"
           L"     (details in KvoVellocsDiag.result.json)\n"
           L"  2  usage error\n"
           L"  3  not a layered-disk machine\n"
           L"  4  the output could not be made (output folder, result file or archive), the base\n"
           L"     folder was refused (a link, or others may change it), there was not enough free\n"
           L"     space, or the disk filled up during the run\n"
           L"  5  another collection is already running on this machine\n"
           L"  6  internal error\n";
}
