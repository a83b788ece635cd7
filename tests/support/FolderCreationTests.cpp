#include "FolderCreation.h"
#include "LogCapture.h"
#include "PathBuilder.h"
#include "SupportTestSeams.h"

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

int g_attempts = 0;
DWORD AlwaysDiskFull(const wchar_t*)
{
    ++g_attempts;
    return ERROR_DISK_FULL;
}
DWORD DiskFullTwiceThenCreated(const wchar_t*)
{
    return ++g_attempts <= 2 ? ERROR_DISK_FULL : 0;
}
LONG PurgeGranted()
{
    return 0;
}
LONG PurgeRefused()
{
    return LONG(0xC0000061); // STATUS_PRIVILEGE_NOT_HELD
}

// A folder path of exactly `length` characters below the scratch folder.
std::wstring PathOfLength(const ScratchFolder& folder, size_t length)
{
    std::wstring path = folder.Path() + L"\\";
    while (path.size() + 51 < length)
        path += std::wstring(50, L'd') + L"\\";
    path += std::wstring(length - path.size(), L'e');
    return path;
}

} // namespace

class FolderCreationRetry : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetFolderCreationForTest(nullptr);
        SetStandbyPurgeForTest(nullptr);
    }
    ScratchLog log{L"retry"};
};

TEST_F(FolderCreationRetry, FullDiskIsTriedFiveTimesWhileThePurgeWorks)
{
    g_attempts = 0;
    SetFolderCreationForTest(&AlwaysDiskFull);
    SetStandbyPurgeForTest(&PurgeGranted);
    EXPECT_EQ(CreateFolderWithRetry(L"C:\\anything"), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(g_attempts, 5);
}

TEST_F(FolderCreationRetry, FullDiskIsTriedOnceWhenThePurgeIsRefused)
{
    g_attempts = 0;
    SetFolderCreationForTest(&AlwaysDiskFull);
    SetStandbyPurgeForTest(&PurgeRefused);
    EXPECT_EQ(CreateFolderWithRetry(L"C:\\anything"), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(g_attempts, 1);
    EXPECT_NE(log.ErrorLog().find("WSFileSystem   [") , std::string::npos);
    EXPECT_NE(log.ErrorLog().find("] Failed to flush the standby list, Error:1314\r\n"), std::string::npos)
        << log.ErrorLog();
}

TEST_F(FolderCreationRetry, SpaceFreedByThePurgeLetsTheCreationSucceed)
{
    g_attempts = 0;
    SetFolderCreationForTest(&DiskFullTwiceThenCreated);
    SetStandbyPurgeForTest(&PurgeGranted);
    EXPECT_EQ(CreateFolderWithRetry(L"C:\\anything"), 0u);
    EXPECT_EQ(g_attempts, 3);
}

TEST_F(FolderCreationRetry, OtherCodesAreReturnedAtOnce)
{
    ScratchFolder folder(L"retry-existing");
    EXPECT_EQ(CreateFolderWithRetry(folder.Path().c_str()), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(CreateFolderWithRetry((folder / L"new\\nested").c_str()), 0u);
    EXPECT_TRUE(FolderExists(folder / L"new\\nested"));
    EXPECT_EQ(CreateFolderWithRetry(nullptr), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(FolderCreationRetry, RealPurgeUnderThisPlatformSucceeds)
{
    EXPECT_EQ(FlushStandbyList(), 0u);
    EXPECT_EQ(log.ErrorLog(), "");
}

class FolderChain : public ::testing::Test {
protected:
    ScratchLog log{L"chain"};
    ScratchFolder folder{L"chain-folders"};
};

TEST_F(FolderChain, ShortPathsGoToTheShellWithoutLogging)
{
    const std::wstring path = PathOfLength(folder, 247);
    PathBuilder builder(path.c_str(), false);
    EXPECT_EQ(builder.CreateFolderChain(), 0u);
    EXPECT_TRUE(FolderExists(path));
    EXPECT_EQ(builder.CreateFolderChain(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(LogLines(log.FullLog()).size(), 1u) << log.FullLog();
}

TEST_F(FolderChain, PathsFrom248CharactersAreCreatedLevelByLevel)
{
    const std::wstring path = PathOfLength(folder, 248);
    PathBuilder builder(path.c_str(), false);
    EXPECT_EQ(builder.CreateFolderChain(), 0u);
    EXPECT_TRUE(FolderExists(path));
    EXPECT_STREQ(builder.GetPath(), path.c_str()) << "separators are restored";
    const std::string full = log.FullLog();
    EXPECT_NE(full.find("[WARN ]"), std::string::npos);
    EXPECT_NE(full.find("WSPathBuilde   ["), std::string::npos);
    EXPECT_NE(full.find("Found a folder path greater than 248 chars !! " + Narrow(path) + "\r\n"), std::string::npos);

    EXPECT_EQ(builder.CreateFolderChain(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_NE(log.ErrorLog().find("ErrorCode 183 for CreateDirectory of \\\\?\\" + Narrow(path) + "\r\n"),
              std::string::npos)
        << log.ErrorLog();
}

TEST_F(FolderChain, DeepTreesBeyondThreeHundredCharacters)
{
    const std::wstring path = PathOfLength(folder, 420);
    EXPECT_EQ(CreateFolderWithRetry(path.c_str()), 0u);
    EXPECT_TRUE(FolderExists(path));
}
