// Stands in for the platform's event log tool: "epl <log> <file> ..." writes a small event log file,
// "al <file> /l:<locale>" writes LocaleMetaData\<stem>_1033.MTA beside it. KVO_WEVTUTIL=empty writes
// nothing and exits 0 (as Wine's own stub does); KVO_WEVTUTIL=hang never ends.
#include "StandIn.h"

#include <shellapi.h>

int wmain()
{
    standin::LogStart("wevtutil");
    const std::wstring mode = standin::Setting(L"KVO_WEVTUTIL");
    if (mode == L"hang")
        for (;;)
            Sleep(1000);
    if (mode == L"empty")
        return 0;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv || count < 3)
        return 87;
    const std::wstring verb = argv[1];
    int result = 87;
    if (verb == L"epl" && count >= 4) {
        const std::string events = std::string("ElfFile\0\0\0\0", 12) + "exported " + standin::Utf8(argv[2]) +
                                   " events " + std::string(500, '\x5a') + "\r\n";
        result = standin::WriteAll(argv[3], events) ? 0 : 5;
    } else if (verb == L"al") {
        const std::wstring file = argv[2];
        const size_t slash = file.find_last_of(L'\\');
        const std::wstring folder = slash == std::wstring::npos ? L"." : file.substr(0, slash);
        std::wstring stem = slash == std::wstring::npos ? file : file.substr(slash + 1);
        stem = stem.substr(0, stem.find_last_of(L'.'));
        CreateDirectoryW((folder + L"\\LocaleMetaData").c_str(), nullptr);
        result = standin::WriteAll(folder + L"\\LocaleMetaData\\" + stem + L"_1033.MTA",
                                   "locale metadata of " + standin::Utf8(stem) + " for en-US\r\n")
                     ? 0
                     : 5;
    }
    LocalFree(argv);
    return result;
}
