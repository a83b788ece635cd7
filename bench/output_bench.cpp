// What the result file (listing and hashing) and the archive add to a collection: a generated
// tree of about 200 MB is copied with CopyFolderTree (the collection's own work), then the copy
// gets its result file and its archive. Prints medians of repeated runs and the ratios.
#include "FileSystem.h"
#include "ResultFile.h"
#include "BenchTree.h"
#include "ZipArchive.h"

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


int Measure(const ScratchRoot& scratch, bool text)
{
    const std::wstring source = scratch / (text ? L"source-text" : L"source-random");
    const unsigned long long bytes = MakeBenchTree(source, text);
    std::printf("%s tree: %d files, %.1f MB\n", text ? "text" : "random", kTreeFiles, double(bytes) / 1e6);

    std::vector<double> copy, result, zip;
    unsigned long long zipBytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        const std::wstring target = scratch / (L"VellocsDiag_" + std::to_wstring(run));
        const std::wstring archive = target + L".zip";
        DWORD copyError = 0, resultError = 0, zipError = 0;
        copy.push_back(TimeAction([&] { copyError = CopyFolderTree(source.c_str(), target.c_str(), true); }));
        RunRecord record;
        record.machine = ReadMachineFacts();
        record.outputFolder = target;
        result.push_back(TimeAction([&] { resultError = WriteResultFile(RunRequest{}, record); }));
        zip.push_back(TimeAction([&] {
            ZipArchiveReport report;
            zipError = CreateZipArchive(target.c_str(), archive.c_str(), report);
        }));
        if (copyError || resultError || zipError) {
            std::printf("failed: copy %lu, result file %lu, archive %lu\n", copyError, resultError, zipError);
            return 1;
        }
        zipBytes = ReadBytes(archive).size();
        (void)RemoveFolderTree(target.c_str());
        DeleteFileW(archive.c_str());
    }
    const double c = MedianOf(copy), r = MedianOf(result), z = MedianOf(zip);
    std::printf("median of %d runs: copy %.3f s, result file %.3f s, archive %.3f s (%.1f MB)\n", kRuns, c, r, z,
                double(zipBytes) / 1e6);
    std::printf("ratios to the copy: result file +%.0f%%, archive +%.0f%%; hashing %.0f MB/s, archive %.0f MB/s\n",
                100 * r / c, 100 * z / c, double(bytes) / 1e6 / r, double(bytes) / 1e6 / z);
    return 0;
}

} // namespace

int main()
{
    ScratchRoot scratch(L"output");
    if (const int failed = Measure(scratch, false))
        return failed;
    (void)RemoveFolderTree((scratch / L"source-random").c_str());
    return Measure(scratch, true);
}
