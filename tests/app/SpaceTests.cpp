// Free space on a real small disk (a tmpfs as drive T:, see space-disk.sh): a run that fits, one
// that does not and creates nothing, the reserve switch, a disk that fills during the run, and the
// size cap that keeps the end of a large log.
#include "AppDriver.h"
#include "CollectTestSeams.h"
#include "CollectionSession.h"
#include "QuietRunSupport.h"
#include "SpaceCheck.h"
#include "TestSupport.h"
#include "UniqueHandles.h"
#include "VellocsLogs.h"
#include "VellocsMetadata.h"
#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>

using namespace kvoapp;
using kvotest::FileExists;
using kvotest::FolderExists;

namespace {

constexpr DWORD kRunMs = 300000;
const std::wstring kDisk = L"T:\\";
const std::wstring kServiceLogs = L"C:\\ProgramData\\Korvane\\Halvrun\\LOGS";

ULONGLONG FreeBytes(const std::wstring& folder)
{
    ULARGE_INTEGER available{};
    GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr);
    return available.QuadPart;
}

// Writes real bytes (a sparse file would take no room on tmpfs).
void WriteFilled(const std::wstring& path, ULONGLONG bytes, char fill = 'f')
{
    Tallis::ImageUpdate::unique_hfile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.is_valid()) << GetLastError();
    const std::string block(1 << 20, fill);
    while (bytes > 0) {
        const DWORD chunk = DWORD(bytes < block.size() ? bytes : block.size());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), block.data(), chunk, &written, nullptr)) << GetLastError();
        bytes -= chunk;
    }
}

// Fills the disk so that exactly `left` bytes stay free (to the nearest page of tmpfs).
void LeaveFree(ULONGLONG left)
{
    const ULONGLONG free = FreeBytes(kDisk);
    ASSERT_GT(free, left);
    WriteFilled(kDisk + L"filler.bin", free - left);
}

// What the product log collector would copy from this machine.
ULONGLONG LogsEstimate()
{
    CVellocsLogs logs;
    Tallis::ImageUpdate::TreeSize size;
    logs.EstimateSize(nullptr, 2, size);
    return size.bytes;
}

class SpaceOnASmallDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetDriveTypeW(kDisk.c_str()) == DRIVE_NO_ROOT_DIR)
            GTEST_SKIP() << "no small disk T: (mounting a tmpfs needs root): the free-space cases did not run";
        for (const auto& entry : kvotest::ListTree(kDisk))
            if (entry.find(L'\\') == std::wstring::npos || entry.back() == L'\\')
                kvotest::RemoveTree(kDisk + (entry.back() == L'\\' ? entry.substr(0, entry.size() - 1) : entry));
    }
    void TearDown() override
    {
        SetEstimateForTest(ULLONG_MAX);
        kvotest::RemoveTree(kServiceLogs + L"\\large-for-space-test.log");
        if (GetDriveTypeW(kDisk.c_str()) != DRIVE_NO_ROOT_DIR)
            for (const auto& entry : kvotest::ListTree(kDisk))
                if (entry.find(L'\\') == std::wstring::npos || entry.back() == L'\\')
                    kvotest::RemoveTree(kDisk + (entry.back() == L'\\' ? entry.substr(0, entry.size() - 1) : entry));
    }
    const std::wstring m_base = kDisk + L"out";
};

TEST_F(SpaceOnASmallDisk, ARunThatFitsCollects)
{
    const ULONGLONG estimate = LogsEstimate();
    ASSERT_GT(estimate, 0u);
    LeaveFree(estimate + (8ull << 20));
    const ProgramRun run = RunProgram(L"/quiet /collect logs /reserve 4 /out " + m_base, kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::wstring folder = FindOutputFolder(m_base);
    ASSERT_FALSE(folder.empty());
    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    const auto& space = result["space"];
    EXPECT_EQ(space["volume"], "T:\\");
    EXPECT_EQ(space["reserve"], 4ull << 20);
    EXPECT_EQ(space["estimate"], estimate);
    EXPECT_GE(space["freeBefore"].get<ULONGLONG>(), estimate + (4ull << 20));
    // What was written is what the estimate said (the tool's own logs and result file aside).
    EXPECT_EQ(result["collectors"][0]["bytes"], estimate);
    EXPECT_LT(space["freeAfter"].get<ULONGLONG>(), space["freeBefore"].get<ULONGLONG>());
}

TEST_F(SpaceOnASmallDisk, ARunThatDoesNotFitCreatesNothingUnlessTheReserveIsLowered)
{
    const ULONGLONG estimate = LogsEstimate();
    LeaveFree(estimate + (8ull << 20));
    // T: is not the system volume: the default reserve is 256 MB, more than the whole disk.
    const ProgramRun refused = RunProgram(L"/quiet /collect logs /out " + m_base, kRunMs);
    EXPECT_EQ(refused.exitCode, 4u) << refused.output;
    EXPECT_NE(refused.output.find("not enough free space on T:\\"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("256.0 MB to keep free"), std::string::npos) << refused.output;
    EXPECT_FALSE(FolderExists(m_base));

    const ProgramRun accepted = RunProgram(L"/quiet /collect logs /reserve 0 /out " + m_base, kRunMs);
    EXPECT_EQ(accepted.exitCode, 0u) << accepted.output;
    EXPECT_FALSE(FindOutputFolder(m_base).empty());
}

TEST_F(SpaceOnASmallDisk, ADiskThatFillsDuringTheRunStopsTheCollectionAndSaysWhy)
{
    // A log larger than what is left, and an estimate made too small on purpose.
    WriteFilled(kServiceLogs + L"\\large-for-space-test.log", 6ull << 20, 'L');
    LeaveFree(3ull << 20);
    SetEstimateForTest(0);

    CVellocsDiag holder;
    CVellocsLogs logs;
    CVellocsMetadata metadata;
    CWindowsOSLogs osLogs;
    holder.SetComponent(CVellocsDiag::kProductLogs, &logs);
    holder.SetComponent(CVellocsDiag::kMetadata, &metadata);
    holder.SetComponent(CVellocsDiag::kOsLogs, &osLogs);
    RunRequest request;
    request.baseFolder = m_base;
    request.seconds = 1;
    request.collect = {true, true, false};
    request.layerMode = 2;
    request.reserveBytes = 0;
    RunRecord record;
    RunCollectionSession(holder, request, record, nullptr);

    EXPECT_EQ(ExitCodeOf(record.end), kExitOutputFailed);
    EXPECT_TRUE(record.diskFull);
    // The metadata collector after the full disk was not called.
    EXPECT_EQ(record.collectors[CVellocsDiag::kMetadata].outcome, CollectorRecord::Outcome::Skipped);
    const std::wstring copied =
        record.outputFolder + L"\\VellocsLogs\\ServiceLogs-DeliveryMode\\large-for-space-test.log";
    EXPECT_FALSE(FileExists(copied)) << "a cut-short copy was left behind";

    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(record.outputFolder, result));
    EXPECT_EQ(result["run"]["outcome"], "failed");
    EXPECT_NE(result["run"]["stopReason"].get<std::string>().find("full"), std::string::npos);
    bool listed = false;
    for (const auto& item : result["notCollected"])
        listed = listed || item["source"].get<std::string>().find("large-for-space-test.log") != std::string::npos;
    EXPECT_TRUE(listed) << result["notCollected"].dump();
    // Every file that is there arrived whole.
    EXPECT_TRUE(FilesMatchFolder(result, record.outputFolder));
}

class SizeCap : public ::testing::Test {
protected:
    void TearDown() override { kvotest::RemoveTree(kServiceLogs + L"\\large-for-cap-test.log"); }
    kvotest::ScratchFolder m_base{L"size-cap"};
};

TEST_F(SizeCap, ALargeLogArrivesAsItsLastMegabyteMarkedTruncated)
{
    // 5 MB whose last megabyte differs from the rest, so that the kept part is recognisable.
    std::string log(5 << 20, 'a');
    for (size_t i = log.size() - (1 << 20); i < log.size(); ++i)
        log[i] = char('0' + i % 10);
    kvotest::WriteFileBytes(kServiceLogs + L"\\large-for-cap-test.log", log);

    const ProgramRun run = RunProgram(L"/quiet /collect logs /maxfile 1 /out \"" + m_base.Path() + L"\"", kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::wstring folder = FindOutputFolder(m_base.Path());
    ASSERT_FALSE(folder.empty());
    const std::string copied =
        kvotest::ReadFileBytes(folder + L"\\VellocsLogs\\ServiceLogs-DeliveryMode\\large-for-cap-test.log");
    EXPECT_EQ(copied, log.substr(log.size() - (1 << 20)));

    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    bool marked = false;
    for (const auto& file : result["files"]) {
        if (file["path"] == "VellocsLogs\\ServiceLogs-DeliveryMode\\large-for-cap-test.log") {
            EXPECT_EQ(file["truncated"], true);
            EXPECT_EQ(file["originalSize"], 5 << 20);
            EXPECT_EQ(file["size"], 1 << 20);
            marked = true;
        } else {
            EXPECT_FALSE(file.contains("truncated")) << file.dump();
        }
    }
    EXPECT_TRUE(marked);
    EXPECT_TRUE(FilesMatchFolder(result, folder));
}

} // namespace
