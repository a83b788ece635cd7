// What the result file (listing and hashing) and the archive add to a collection: a generated
// tree of about 200 MB is copied with CopyFolderTree (the collection's own work), then the copy
// gets its result file and its archive. Prints medians of repeated runs and the ratios.
#include "FileSystem.h"
#include "ResultFile.h"
#include "TestSupport.h"
#include "ZipArchive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace Tallis::ImageUpdate;

namespace {

constexpr int kFiles = 2000;
constexpr int kRuns = 3;

// The tree of copy_bench: 2,000 files over 64 folders, 20 of 5 MiB and the rest 1 to 100 KiB of
// random bytes. A second variant holds log-like text, which deflate shrinks.
unsigned long long MakeTree(const std::wstring& root, bool text)
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
    if (text) {
        block.clear();
        for (int line = 0; block.size() < (5u << 20) + 4096; ++line)
            block += "2026-12-09 10:30:" + std::to_string(line % 60) + " INFO layer service: volume " +
                     std::to_string(line % 977) + " attached, " + std::to_string(seed = seed * 1103515245u + 12345u) +
                     " blocks\r\n";
    } else {
        for (auto& c : block)
            c = char((seed = seed * 1103515245u + 12345u) >> 16);
    }
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

int Measure(const kvotest::ScratchFolder& scratch, bool text)
{
    const std::wstring source = scratch / (text ? L"source-text" : L"source-random");
    const unsigned long long bytes = MakeTree(source, text);
    std::printf("%s tree: %d files, %.1f MB\n", text ? "text" : "random", kFiles, double(bytes) / 1e6);

    std::vector<double> copy, result, zip;
    unsigned long long zipBytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        const std::wstring target = scratch / (L"VellocsDiag_" + std::to_wstring(run));
        const std::wstring archive = target + L".zip";
        DWORD copyError = 0, resultError = 0, zipError = 0;
        copy.push_back(Seconds([&] { copyError = CopyFolderTree(source.c_str(), target.c_str(), true); }));
        RunResult run_;
        run_.machine = ReadMachineFacts();
        result.push_back(Seconds([&] { resultError = WriteResultFile(run_, target.c_str()); }));
        zip.push_back(Seconds([&] { zipError = CreateZipArchive(target.c_str(), archive.c_str()); }));
        if (copyError || resultError || zipError) {
            std::printf("failed: copy %lu, result file %lu, archive %lu\n", copyError, resultError, zipError);
            return 1;
        }
        zipBytes = kvotest::ReadFileBytes(archive).size();
        kvotest::RemoveTree(target);
        kvotest::RemoveTree(archive);
    }
    const double c = Median(copy), r = Median(result), z = Median(zip);
    std::printf("median of %d runs: copy %.3f s, result file %.3f s, archive %.3f s (%.1f MB)\n", kRuns, c, r, z,
                double(zipBytes) / 1e6);
    std::printf("ratios to the copy: result file +%.0f%%, archive +%.0f%%; hashing %.0f MB/s, archive %.0f MB/s\n",
                100 * r / c, 100 * z / c, double(bytes) / 1e6 / r, double(bytes) / 1e6 / z);
    return 0;
}

} // namespace

int main()
{
    kvotest::ScratchFolder scratch(L"bench-output");
    if (const int failed = Measure(scratch, false))
        return failed;
    kvotest::RemoveTree(scratch / L"source-random");
    return Measure(scratch, true);
}
