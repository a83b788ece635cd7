// Copies a generated tree with CopyFolderTree, with Wine's xcopy and with cp -r on the Linux side,
// and measures the cost of one diagnostic-log entry. Prints medians of repeated runs.
#include "DiagnosticLog.h"
#include "FileSystem.h"
#include "TestSupport.h"
#include "UniqueHandles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 2000;
constexpr int kRuns = 3;

// 2,000 files over a tree 5 levels deep: 20 files of 5 MiB and the rest between 1 and 100 KiB,
// about 200 MB in all.
unsigned long long MakeTree(const std::wstring& root)
{
    std::vector<std::wstring> folders{root};
    CreateDirectoryW(root.c_str(), nullptr);
    for (size_t i = 0; folders.size() < 64; ++i) {
        const std::wstring parent = folders[i];
        if (std::count(parent.begin() + long(root.size()), parent.end(), L'\\') >= 4)
            continue;
        for (int child = 0; child < 3 && folders.size() < 64; ++child) {
            folders.push_back(parent + L"\\folder" + std::to_wstring(child));
            CreateDirectoryW(folders.back().c_str(), nullptr);
        }
    }
    unsigned long long total = 0;
    unsigned seed = 12345;
    std::string block(5 << 20, '\0');
    for (auto& c : block)
        c = char((seed = seed * 1103515245u + 12345u) >> 16);
    for (int i = 0; i < kFiles; ++i) {
        const size_t size = i % 100 == 0 ? size_t(5) << 20 : 1024 + (seed = seed * 1103515245u + 12345u) % (99 * 1024);
        kvotest::WriteFileBytes(folders[size_t(i) % folders.size()] + L"\\file" + std::to_wstring(i) + L".log",
                                block.substr(size_t(i) % 4096, size));
        total += size;
    }
    return total;
}

double Seconds(const std::function<void()>& action)
{
    const auto start = Clock::now();
    action();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
    const double seconds = Seconds([&] {
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
    const unsigned long long bytes = MakeTree(source);
    std::printf("tree: %d files, %.1f MB\n", kFiles, double(bytes) / 1e6);

    std::vector<double> ours, xcopy, cp, estimate;
    for (int run = 0; run < kRuns; ++run) {
        // The free-space check walks the same tree before a collection copies it.
        TreeSize measured;
        estimate.push_back(Seconds([&] { (void)MeasureFolderTree(source.c_str(), true, measured); }));
        if (measured.bytes != bytes || measured.files != kFiles) {
            std::printf("MeasureFolderTree counted %llu files, %llu bytes\n", measured.files, measured.bytes);
            return 1;
        }
        const std::wstring target = scratch / (L"ours" + std::to_wstring(run));
        ours.push_back(Seconds([&] { (void)CopyFolderTree(source.c_str(), target.c_str(), true); }));
        if (!kvotest::TreesEqual(source, target)) {
            std::printf("CopyFolderTree produced a different tree\n");
            return 1;
        }
        kvotest::RemoveTree(target);

        const std::wstring xcopyTarget = scratch / (L"xcopy" + std::to_wstring(run));
        xcopy.push_back(Seconds([&] {
            RunProcess(L"xcopy.exe \"" + source + L"\" \"" + xcopyTarget + L"\" /E /I /Y /Q");
        }));
        kvotest::RemoveTree(xcopyTarget);

        const std::string unixSource = kvotest::UnixPath(source);
        const std::string unixTarget = kvotest::UnixPath(scratch.Path()) + "/cp" + std::to_string(run);
        cp.push_back(Seconds([&] { kvotest::RunUnixShell("cp -r '" + unixSource + "' '" + unixTarget + "'", 600000); }));
        kvotest::RunUnixShell("rm -rf '" + unixTarget + "'");
    }
    std::printf("median of %d runs: CopyFolderTree %.3f s, xcopy %.3f s, cp -r %.3f s\n", kRuns, Median(ours),
                Median(xcopy), Median(cp));
    std::printf("ratios: CopyFolderTree/xcopy %.2f, CopyFolderTree/cp %.2f\n", Median(ours) / Median(xcopy),
                Median(ours) / Median(cp));
    std::printf("size estimate walk (MeasureFolderTree): %.3f s, %.1f%% of the copy\n", Median(estimate),
                100.0 * Median(estimate) / Median(ours));

    InitializeLog((scratch / L"bench.log").c_str(), (scratch / L"bench.Errors.log").c_str());
    std::printf("log entries per second (files opened and closed per entry): INFO (full log) %.0f, "
                "ERROR (both logs) %.0f\n",
                EntriesPerSecond(LOG_INFO, 3000), EntriesPerSecond(LOG_ERROR, 3000));
    return 0;
}
