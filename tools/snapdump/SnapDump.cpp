// snapdump <list file> [<text file>]: loads a saved record list of any record types and writes
// its text dump; the last line on standard error counts the records read by type.
// Exit codes: 0 the stream was read whole, 1 it stopped early (what was read is still dumped),
// 2 a usage error or a file that cannot be opened.
#include "ListNodeData.h"
#include "ListNodeData_REGKEYINFO.h"
#include "SortedLinkList.h"
#include "UniqueHandles.h"

#include <windows.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <map>
#include <memory>
#include <string>

using namespace Tallis::ImageUpdate;

namespace {

constexpr int kWhole = 0;
constexpr int kStoppedEarly = 1;
constexpr int kUsageOrOpen = 2;

void PrintUsage(FILE* to)
{
    std::fputs("usage: snapdump <list file> [<text file>]\n"
                "Loads a saved record list (strings, files, folders, registry keys and values,\n"
                "file-id maps, groups) and writes its text dump to <text file>, or to standard output.\n"
                "Standard error gets one line counting the records read by type.\n"
                "Exit code: 0 stream read whole, 1 stream stopped early (records read so far are\n"
                "dumped), 2 usage error or a file that cannot be opened.\n",
                to);
}

std::wstring TypeName(std::int32_t code)
{
    switch (code) {
    case 1: return L"string";
    case 2: return L"folder";
    case 3: return L"file";
    case 4: return L"registry key";
    case 5: return L"registry value";
    case 11: return L"file-id map";
    case 12: return L"group";
    default: return L"type " + std::to_wstring(code);
    }
}

// Counts by type code, the key records' value records included.
void CountRecords(SortedLinkList& list, std::map<std::int32_t, long long>& counts, long long& total)
{
    for (ListNodeData* node = list.First(); node; node = list.Next()) {
        ++counts[node->TypeCode()];
        ++total;
        if (node->TypeCode() == ListNodeData_REGKEYINFO::kTypeCode) {
            if (SortedLinkList* values = static_cast<ListNodeData_REGKEYINFO*>(node)->Values())
                CountRecords(*values, counts, total);
        }
    }
}

// How far a stream was read.
struct LoadOutcome {
    bool whole = false;
    bool trailing = false; // bytes after a whole list
    bool hasCount = false;
    std::int32_t announced = 0;
    std::string failure;
};

LoadOutcome LoadStream(FILE* in, SortedLinkList& list)
{
    LoadOutcome outcome;
    outcome.hasCount = std::fread(&outcome.announced, sizeof outcome.announced, 1, in) == 1;
    std::rewind(in);
    try {
        outcome.whole = list.Load(in) == 0;
    } catch (const std::exception& error) {
        outcome.failure = error.what();
    }
    outcome.trailing = outcome.whole && std::fgetc(in) != EOF;
    return outcome;
}

// "snapdump: 12 records read (2 folder, 10 file); stream read whole"
std::wstring SummaryLine(SortedLinkList& list, const LoadOutcome& outcome)
{
    std::map<std::int32_t, long long> counts;
    long long total = 0;
    CountRecords(list, counts, total);
    std::wstring line = L"snapdump: " + std::to_wstring(total) + L" records read";
    bool first = true;
    for (const auto& [code, count] : counts) {
        line += (first ? L" (" : L", ") + std::to_wstring(count) + L" " + TypeName(code);
        first = false;
    }
    line += first ? L"; " : L"); ";
    if (outcome.whole) {
        line += L"stream read whole";
        if (outcome.trailing)
            line += L", trailing bytes after the list ignored";
        return line;
    }
    line += L"stream stopped early";
    if (outcome.hasCount)
        line += L" after " + std::to_wstring(list.Count()) + L" of " + std::to_wstring(outcome.announced) +
                L" top-level records";
    if (!outcome.failure.empty())
        line += L" (" + std::wstring(outcome.failure.begin(), outcome.failure.end()) + L")";
    return line;
}

int Run(int argc, wchar_t** argv)
{
    if (argc == 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"-h") == 0 ||
                      std::wcscmp(argv[1], L"/?") == 0)) {
        PrintUsage(stdout);
        return kWhole;
    }
    if (argc < 2 || argc > 3) {
        PrintUsage(stderr);
        return kUsageOrOpen;
    }
    unique_file in(_wfopen(argv[1], L"rb"));
    if (!in) {
        std::fwprintf(stderr, L"snapdump: cannot open %ls (error %lu)\n", argv[1], GetLastError());
        return kUsageOrOpen;
    }
    unique_file textFile;
    if (argc == 3) {
        textFile.reset(_wfopen(argv[2], L"wt"));
        if (!textFile) {
            std::fwprintf(stderr, L"snapdump: cannot create %ls (error %lu)\n", argv[2], GetLastError());
            return kUsageOrOpen;
        }
    }
    SortedLinkList list;
    const LoadOutcome outcome = LoadStream(in.get(), list);
    list.WriteText(textFile ? textFile.get() : stdout);
    std::fflush(textFile ? textFile.get() : stdout);
    std::fwprintf(stderr, L"%ls\n", SummaryLine(list, outcome).c_str());
    return outcome.whole ? kWhole : kStoppedEarly;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Later library loads search the system directory only, never the program's or the current folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Dumps are written as narrow text of the user's locale.
    std::setlocale(LC_ALL, "");
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snapdump: %s\n", error.what());
        return kStoppedEarly;
    }
}
