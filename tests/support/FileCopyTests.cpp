// One file copied from its own handle: what it keeps of the source, what it tells the run (a cut
// copy with the bytes it really took, a source with several names).
#include "FileCopy.h"
#include "FileSystem.h"
#include "LogCapture.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

struct SeenEvent {
    CopyEvent::Kind kind;
    std::wstring destination;
    ULONGLONG originalSize;
    ULONGLONG copiedSize;
    DWORD links;
};

void Record(void* context, const CopyEvent& event)
{
    static_cast<std::vector<SeenEvent>*>(context)->push_back(
        {event.kind, event.destination, event.originalSize, event.copiedSize, event.links});
}

class FileCopyTest : public ::testing::Test {
protected:
    void SetUp() override { SetCopyPolicy({0, &Record, &events}); }
    void TearDown() override { SetCopyPolicy({}); }

    ScratchLog log{L"filecopy-log"};
    ScratchFolder folder{L"filecopy"};
    std::vector<SeenEvent> events;
};

TEST_F(FileCopyTest, TheCopyKeepsTheLastWriteTimeAndTheReadOnlyFlag)
{
    const std::wstring source = folder / L"settings.ini";
    WriteFileBytes(source, "[layer]\r\n");
    {
        unique_hfile file(CreateFileW(source.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        ASSERT_TRUE(file.is_valid());
        const FILETIME march2016{0x4B0C2000, 0x01D17886}; // a day in 2016
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &march2016));
    }
    ASSERT_TRUE(SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY));

    const std::wstring copy = folder / L"copy.ini";
    EXPECT_EQ(CopyCollectedFile(source.c_str(), copy.c_str(), L"test"), 0u);
    EXPECT_EQ(ReadFileBytes(copy), "[layer]\r\n");
    WIN32_FILE_ATTRIBUTE_DATA from{}, to{};
    ASSERT_TRUE(GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &from));
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &to));
    EXPECT_EQ(CompareFileTime(&from.ftLastWriteTime, &to.ftLastWriteTime), 0);
    EXPECT_NE(to.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(events.empty());

    // A second copy to the same name never writes through what is there.
    EXPECT_EQ(CopyCollectedFile(source.c_str(), copy.c_str(), L"test"), DWORD(ERROR_FILE_EXISTS));
    SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileCopyTest, ASourceWithSeveralNamesIsCopiedAndReportedWithItsLinkCount)
{
    CreateDirectoryW((folder / L"tree").c_str(), nullptr);
    WriteFileBytes(folder / L"tree\\first.log", "shared bytes");
    ASSERT_EQ(RunUnixShell("ln '" + UnixPath(folder / L"tree\\first.log") + "' '" +
                           UnixPath(folder / L"tree\\second.log") + "'"),
              0);
    WriteFileBytes(folder / L"tree\\single.log", "one name");

    EXPECT_EQ(CopyFolderTree((folder / L"tree").c_str(), (folder / L"copy").c_str(), true), 0u);
    EXPECT_EQ(ReadFileBytes(folder / L"copy\\first.log"), "shared bytes");
    EXPECT_EQ(ReadFileBytes(folder / L"copy\\second.log"), "shared bytes");
    std::vector<std::wstring> linked;
    for (const SeenEvent& event : events) {
        EXPECT_EQ(event.kind, CopyEvent::Kind::HardLinked);
        EXPECT_EQ(event.links, 2u);
        linked.push_back(event.destination);
    }
    std::sort(linked.begin(), linked.end());
    EXPECT_EQ(linked, (std::vector<std::wstring>{folder / L"copy\\first.log", folder / L"copy\\second.log"}));
}

TEST_F(FileCopyTest, ACutCopyReportsTheBytesItReallyTook)
{
    const std::wstring source = folder / L"service.log";
    WriteFileBytes(source, "0123456789abcdefghijklmno");
    SetCopyPolicy({10, &Record, &events});
    EXPECT_EQ(CopyCollectedFile(source.c_str(), (folder / L"cut.log").c_str(), L"test"), 0u);
    EXPECT_EQ(ReadFileBytes(folder / L"cut.log"), "fghijklmno");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CopyEvent::Kind::Truncated);
    EXPECT_EQ(events[0].originalSize, 25u);
    EXPECT_EQ(events[0].copiedSize, 10u);
    EXPECT_NE(log.FullLog().find("Copied only the last 10 of 25 bytes of " + Narrow(source)), std::string::npos)
        << log.FullLog();
}

} // namespace
