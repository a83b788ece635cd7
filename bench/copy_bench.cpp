// Copies the benchmark tree with CopyFolderTree (the collectors' copy: long-path forms, the size
// cap policy and the full-disk latch), with a bare recursive FindFirstFileW/CopyFileW loop, and with
// Wine's xcopy, in rotating order, and measures the cost of one diagnostic-log entry. Prints
// medians. Run on a RAM disk so that the disk's own noise stays out: bench/run-copy-bench.sh.
//   copy_bench.exe [root folder] [rounds]
#include "BenchTree.h"
#include "DiagnosticLog.h"
#include "FileCopy.h"
#include "FileSystem.h"
#include "SystemDirectory.h"
#include "UniqueHandles.h"

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace kvobench;

namespace {

int RunProcess(const std::wstring& application, std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return -1;
    unique_handle processHandle(process.hProcess);
    unique_handle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(processHandle.get(), &code);
    return int(code);
}

// The plain operation: what any copy of a tree must do, and nothing else.
void BareCopy(const std::wstring& source, const std::wstring& target)
{
    CreateDirectoryW(target.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW((source + L"\\*").c_str(), &entry));
    if (!search)
        return;
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        const std::wstring from = source + L"\\" + entry.cFileName;
        const std::wstring to = target + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            BareCopy(from, to);
        else
            CopyFileW(from.c_str(), to.c_str(), TRUE);
    } while (FindNextFileW(search.get(), &entry));
}

bool SameSize(const std::wstring& folder, unsigned long long bytes)
{
    TreeSize size;
    return MeasureFolderTree(folder.c_str(), true, size) == 0 && size.files == ULONGLONG(kTreeFiles) &&
           size.bytes == bytes;
}

double EntriesPerSecond(int level, int entries)
{
    const double seconds = TimeAction([&] {
        for (int i = 0; i < entries; ++i)
            LogMessage(level, __LINE__, L"bench", L"entry %d of the benchmark with a path C:\\some\\folder\\file.txt", i);
    });
    return entries / seconds;
}

struct Variant {
    const char* name;
    std::function<void(const std::wstring& source, const std::wstring& target)> copy;
    std::vector<double> seconds;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 7;
    ScratchRoot scratch(L"copy", argc > 1 ? argv[1] : L"");
    const std::wstring source = scratch / L"source";
    const unsigned long long bytes = MakeBenchTree(source);
    std::printf("tree: %d files, %.1f MB, in %ls\n", kTreeFiles, double(bytes) / 1e6, scratch.Path().c_str());

    // A collection copies under a size cap policy: one that never cuts, as a run without /maxfile.
    SetCopyPolicy({ULONGLONG(1) << 40, nullptr, nullptr});
    const std::wstring xcopy = SystemProgramPath(L"xcopy.exe");
    std::vector<Variant> variants = {
        {"CopyFolderTree", [](const std::wstring& s, const std::wstring& t) { (void)CopyFolderTree(s.c_str(), t.c_str(), true); }, {}},
        {"bare loop", [](const std::wstring& s, const std::wstring& t) { BareCopy(s, t); }, {}},
        {"xcopy", [&](const std::wstring& s, const std::wstring& t) {
             RunProcess(xcopy, L"xcopy.exe \"" + s + L"\" \"" + t + L"\" /E /I /Y /Q");
         }, {}},
    };
    std::vector<double> estimate;
    for (int round = 0; round < rounds; ++round) {
        TreeSize measured;
        estimate.push_back(TimeAction([&] { (void)MeasureFolderTree(source.c_str(), true, measured); }));
        for (size_t step = 0; step < variants.size(); ++step) {
            Variant& variant = variants[(size_t(round) + step) % variants.size()];
            const std::wstring target = scratch / L"target";
            variant.seconds.push_back(TimeAction([&] { variant.copy(source, target); }));
            if (!SameSize(target, bytes)) {
                std::printf("%s produced a different tree\n", variant.name);
                return 1;
            }
            (void)RemoveFolderTree(target.c_str());
        }
    }
    SetCopyPolicy({});
    const double ours = MedianOf(variants[0].seconds), bare = MedianOf(variants[1].seconds);
    std::printf("median of %d rounds (rotating order): CopyFolderTree %.3f s, bare loop %.3f s, xcopy %.3f s\n",
                rounds, ours, bare, MedianOf(variants[2].seconds));
    std::printf("ratios: CopyFolderTree/bare loop %.2f, CopyFolderTree/xcopy %.2f; our own cost %.0f us a file\n",
                ours / bare, ours / MedianOf(variants[2].seconds), 1e6 * (ours - bare) / kTreeFiles);
    std::printf("size estimate walk (MeasureFolderTree): %.3f s, %.1f%% of the copy\n", MedianOf(estimate),
                100.0 * MedianOf(estimate) / ours);

    InitializeLog((scratch / L"bench.log").c_str(), (scratch / L"bench.Errors.log").c_str());
    std::printf("log entries per second (files opened and closed per entry): INFO (full log) %.0f, "
                "ERROR (both logs) %.0f\n",
                EntriesPerSecond(LOG_INFO, 3000), EntriesPerSecond(LOG_ERROR, 3000));
    return 0;
}
