#include "ZipArchive.h"

#include "CollectTestSeams.h"
#include "UniqueHandles.h"

#include <TestSupport.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

// An archive whose report the case does not look at.
DWORD Pack(const wchar_t* folder, const wchar_t* zipPath)
{
    ZipArchiveReport report;
    return CreateZipArchive(folder, zipPath, report);
}

// Archives made here are checked afterwards on the Linux side by verify-zip.py (the next ctest
// entry), so they live at a fixed place of the prefix: C:\kvo-zip-check\<case>.
const std::wstring kCheckRoot = L"C:\\kvo-zip-check";
const std::wstring kTopName = L"VellocsDiag_123";

std::string Bytes(size_t count, uint32_t seed)
{
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = char(seed >> 24);
    }
    return bytes;
}

void MakeOutputTree(const std::wstring& top)
{
    for (const wchar_t* sub : {L"", L"\\VellocsLogs", L"\\VellocsLogs\\nested", L"\\VellocsLogs\\nested\\deeper",
                               L"\\VellocsLogs\\empty-folder", L"\\VellocsMetadata"})
        CreateDirectoryW((top + sub).c_str(), nullptr);
    std::string log;
    while (log.size() < 2500000)
        log += "2026-12-09 10:30:00 INFO service started, nothing to report\r\n";
    WriteFileBytes(top + L"\\VellocsLogs\\service.log", log);
    WriteFileBytes(top + L"\\VellocsLogs\\nested\\deeper\\b.txt", "deep");
    WriteFileBytes(top + L"\\VellocsMetadata\\\u00dcn\u00efc\u00f6d\u00e9 \u65e5\u672c.txt", "non-ASCII name");
    WriteFileBytes(top + L"\\binary.bin", Bytes(3 * (1u << 20) + 7, 42));
    WriteFileBytes(top + L"\\empty.txt", "");
    std::wstring deep = top + L"\\VellocsMetadata";
    for (int i = 0; i < 5; ++i) {
        deep += L"\\" + std::wstring(55, wchar_t(L'p' + i));
        CreateDirectoryW(LongForm(deep).c_str(), nullptr);
    }
    WriteFileBytes(deep + L"\\long-path.txt", "beyond MAX_PATH");
}

bool Contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

} // namespace

class ZipArchiveTest : public ::testing::Test {
protected:
    void TearDown() override { SetZip64ThresholdsForTest(0xFFFFFFFFu, 0xFFFFu); }

    // Packs a fresh tree in C:\kvo-zip-check\<name> and returns the archive's bytes.
    std::string PackCase(const std::wstring& name, ZipArchiveReport& report)
    {
        const std::wstring base = kCheckRoot + L"\\" + name;
        RemoveTree(base);
        CreateDirectoryW(kCheckRoot.c_str(), nullptr);
        CreateDirectoryW(base.c_str(), nullptr);
        const std::wstring top = base + L"\\" + kTopName;
        MakeOutputTree(top);
        const std::wstring zip = top + L".zip";

        // A log its service keeps open for writing (sharing read and write) is packed all the same.
        unique_hfile service(CreateFileW((top + L"\\VellocsLogs\\open.log").c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(service.is_valid());
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(service.get(), "still being written\r\n", 21, &written, nullptr));

        EXPECT_EQ(CreateZipArchive(top.c_str(), zip.c_str(), report), 0u);
        EXPECT_TRUE(report.archiveWritten);
        EXPECT_EQ(report.skippedFiles, 0u);
        EXPECT_FALSE(FileExists(zip + L".partial"));
        // Every folder and file below the top, plus the top itself.
        EXPECT_EQ(report.entries, ListTree(top).size() + 1);
        const std::string bytes = ReadFileBytes(zip);
        EXPECT_EQ(bytes.rfind("PK\x03\x04", 0), 0u);
        return bytes;
    }
};

TEST_F(ZipArchiveTest, PacksTheWholeTree)
{
    ZipArchiveReport report;
    const std::string bytes = PackCase(L"plain", report);
    EXPECT_FALSE(report.zip64);
    EXPECT_FALSE(Contains(bytes, "PK\x06\x06"));
    // Compressed: the log shrinks far below its size, the random bytes stay about as they are.
    EXPECT_LT(bytes.size(), size_t(3 * (1u << 20) + 400000));
    EXPECT_GT(report.bytesPacked, uint64_t(5500000));
}

TEST_F(ZipArchiveTest, Zip64FormsWhenThresholdsArePassed)
{
    SetZip64ThresholdsForTest(20000, 5);
    ZipArchiveReport report;
    const std::string bytes = PackCase(L"zip64", report);
    EXPECT_TRUE(report.zip64);
    EXPECT_TRUE(Contains(bytes, "PK\x06\x06"));
    EXPECT_TRUE(Contains(bytes, "PK\x06\x07"));
}

TEST_F(ZipArchiveTest, Zip64EndRecordsForManyEntriesAlone)
{
    SetZip64ThresholdsForTest(0xFFFFFFFFu, 5);
    ZipArchiveReport report;
    const std::string bytes = PackCase(L"zip64-entries", report);
    EXPECT_TRUE(report.zip64);
    EXPECT_TRUE(Contains(bytes, "PK\x06\x06"));
}

class ZipArchiveFailureTest : public ::testing::Test {
protected:
    ScratchFolder folder{L"zip-fail"};
    std::wstring top = folder / kTopName;
    std::wstring zip = top + L".zip";

    void SetUp() override
    {
        CreateDirectoryW(top.c_str(), nullptr);
        WriteFileBytes(top + L"\\a.log", "abc");
        WriteFileBytes(top + L"\\locked.log", "locked");
    }
    void ExpectNoArchive(const std::wstring& path)
    {
        EXPECT_FALSE(FileExists(path)) << Narrow(path);
        EXPECT_FALSE(FileExists(path + L".partial")) << Narrow(path);
    }
};

TEST_F(ZipArchiveFailureTest, MissingSourceLeavesNoArchiveNotEvenAnOldOne)
{
    WriteFileBytes(zip, "an archive of an earlier run");
    const std::wstring missing = folder / L"vanished";
    ZipArchiveReport report;
    EXPECT_NE(CreateZipArchive(missing.c_str(), zip.c_str(), report), 0u);
    EXPECT_FALSE(report.archiveWritten);
    ExpectNoArchive(zip);
}

TEST_F(ZipArchiveFailureTest, UnwritableDestinationLeavesNothing)
{
    const std::wstring inMissingFolder = folder / L"no-such-folder\\out.zip";
    EXPECT_EQ(Pack(top.c_str(), inMissingFolder.c_str()), DWORD(ERROR_PATH_NOT_FOUND));
    ExpectNoArchive(inMissingFolder);

}

// The temporary name is predictable: whatever took it (a folder, a link to a file elsewhere) is
// neither written, followed nor removed, and the archive is written under another new name.
TEST_F(ZipArchiveFailureTest, ATakenTemporaryNameIsPassedOverAndLeftAsItIs)
{
    CreateDirectoryW((zip + L".partial").c_str(), nullptr);
    ASSERT_EQ(Pack(top.c_str(), zip.c_str()), 0u);
    EXPECT_TRUE(FileExists(zip));
    EXPECT_TRUE(FolderExists(zip + L".partial")) << "a folder that was there is not ours to remove";
    EXPECT_TRUE(OthersHaveNoAccess(zip));
    ASSERT_TRUE(RemoveDirectoryW((zip + L".partial").c_str()));

    ScratchFolder elsewhere(L"zip-elsewhere");
    const std::wstring victim = elsewhere / L"victim.txt";
    WriteFileBytes(victim, "must stay as it is");
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(victim) + "' '" + UnixPath(zip + L".partial") + "'"), 0);
    ASSERT_EQ(Pack(top.c_str(), zip.c_str()), 0u);
    EXPECT_EQ(ReadFileBytes(victim), "must stay as it is");
    EXPECT_TRUE(Contains(ReadFileBytes(zip), "VellocsDiag_123/a.log"));
    const std::vector<std::wstring> left = ListTree(folder.Path());
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::wstring& name) {
                  return name.find(L".partial") != std::wstring::npos;
              }),
              1)
        << "only the planted link, no temporary of ours";
    RemoveUnixLink(zip + L".partial");
}

TEST_F(ZipArchiveFailureTest, UnreadableFileIsLeftOutAndReported)
{
    unique_hfile holder(CreateFileW((top + L"\\locked.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    ASSERT_TRUE(holder.is_valid());
    ZipArchiveReport report;
    EXPECT_EQ(CreateZipArchive(top.c_str(), zip.c_str(), report), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(report.archiveWritten);
    EXPECT_EQ(report.skippedFiles, 1u);
    EXPECT_EQ(report.entries, 2u) << "the top folder and a.log";
    const std::string bytes = ReadFileBytes(zip);
    EXPECT_TRUE(Contains(bytes, "VellocsDiag_123/a.log"));
    EXPECT_FALSE(Contains(bytes, "locked.log"));
    EXPECT_FALSE(FileExists(zip + L".partial"));
}

TEST_F(ZipArchiveFailureTest, ArchiveInsideTheFolderDoesNotPackItself)
{
    const std::wstring inside = top + L"\\self.zip";
    ZipArchiveReport report;
    EXPECT_EQ(CreateZipArchive(top.c_str(), inside.c_str(), report), 0u);
    EXPECT_EQ(report.entries, 3u);
    EXPECT_FALSE(Contains(ReadFileBytes(inside), "self.zip"));
}
