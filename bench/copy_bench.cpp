// Copies a generated tree with CopyFolderTree, with Wine's xcopy and with cp -r on the Linux side,
// and measures the cost of one diagnostic-log entry. Prints medians of repeated runs.
#include "DiagnosticLog.h"
#include "FileSystem.h"
#include "BenchTree.h"
#include "TestSupport.h"
#include "UniqueHandles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;

using namespace kvobench;

namespace {

constexpr int kRuns = 3;


int RunProcess(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return -1;
    unique_handle processHandle(process.hProcess);
    unique_handle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(processHandle.get(), &code);
    return int(code);
}

double EntriesPerSecond(int level, int entries)
{
    const double seconds = TimeAction([&] {
        for (int i = 0; i < entries; ++i)
            LogMessage(level, __LINE__, L"bench", L"entry %d of the benchmark with a path C:\\some\\folder\\file.txt", i);
    });
    return entries / seconds;
}

} // namespace

int main()
{
    kvotest::ScratchFolder scratch(L"bench-copy");
    const std::wstring source = scratch / L"source";
    const unsigned long long bytes = MakeBenchTree(source);
    std::printf("tree: %d files, %.1f MB\n", kTreeFiles, double(bytes) / 1e6);

    std::vector<double> ours, xcopy, cp, estimate;
    for (int run = 0; run < kRuns; ++run) {
        // The free-space check walks the same tree before a collection copies it.
        TreeSize measured;
        estimate.push_back(TimeAction([&] { (void)MeasureFolderTree(source.c_str(), true, measured); }));
        if (measured.bytes != bytes || measured.files != kTreeFiles) {
            std::printf("MeasureFolderTree counted %llu files, %llu bytes; the tree has %d, %llu\n", measured.files,
                        measured.bytes, kTreeFiles, bytes);
            return 1;
        }
        const std::wstring target = scratch / (L"ours" + std::to_wstring(run));
        ours.push_back(TimeAction([&] { (void)CopyFolderTree(source.c_str(), target.c_str(), true); }));
        if (!kvotest::TreesEqual(source, target)) {
            std::printf("CopyFolderTree produced a different tree\n");
            return 1;
        }
        kvotest::RemoveTree(target);

        const std::wstring xcopyTarget = scratch / (L"xcopy" + std::to_wstring(run));
        xcopy.push_back(TimeAction([&] {
            RunProcess(L"xcopy.exe \"" + source + L"\" \"" + xcopyTarget + L"\" /E /I /Y /Q");
        }));
        kvotest::RemoveTree(xcopyTarget);

        const std::string unixSource = kvotest::UnixPath(source);
        const std::string unixTarget = kvotest::UnixPath(scratch.Path()) + "/cp" + std::to_string(run);
        cp.push_back(TimeAction([&] { kvotest::RunUnixShell("cp -r '" + unixSource + "' '" + unixTarget + "'", 600000); }));
        kvotest::RunUnixShell("rm -rf '" + unixTarget + "'");
    }
    std::printf("median of %d runs: CopyFolderTree %.3f s, xcopy %.3f s, cp -r %.3f s\n", kRuns, MedianOf(ours),
                MedianOf(xcopy), MedianOf(cp));
    std::printf("ratios: CopyFolderTree/xcopy %.2f, CopyFolderTree/cp %.2f\n", MedianOf(ours) / MedianOf(xcopy),
                MedianOf(ours) / MedianOf(cp));
    std::printf("size estimate walk (MeasureFolderTree): %.3f s, %.1f%% of the copy\n", MedianOf(estimate),
                100.0 * MedianOf(estimate) / MedianOf(ours));

    InitializeLog((scratch / L"bench.log").c_str(), (scratch / L"bench.Errors.log").c_str());
    std::printf("log entries per second (files opened and closed per entry): INFO (full log) %.0f, "
                "ERROR (both logs) %.0f\n",
                EntriesPerSecond(LOG_INFO, 3000), EntriesPerSecond(LOG_ERROR, 3000));
    return 0;
}
