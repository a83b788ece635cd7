// What the tree walks do with links: a linked component of the root, and a name swapped for a link
// between a folder's listing and its use; the estimate's cap and its largest files.
#include "FileCopy.h"
#include "FileSystem.h"
#include "LogCapture.h"
#include "SupportTestSeams.h"
#include "TreeWalk.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

// A file the walk wants to swap for a link, between the listing of the root and its use.
std::wstring g_swapFolder;
std::string g_swapCommand;
void SwapWhenTheRootIsListed(const wchar_t* relative)
{
    if (relative[0] == L'\0' && !g_swapCommand.empty()) {
        (void)RunUnixShell(g_swapCommand);
        g_swapCommand.clear();
    }
}

class LinksOnTheWay : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryW((folder / L"real").c_str(), nullptr);
        CreateDirectoryW(source.c_str(), nullptr);
        CreateDirectoryW((source + L"\\sub").c_str(), nullptr);
        WriteFileBytes(source + L"\\sub\\own.log", "own");
        WriteFileBytes(source + L"\\top.log", "top");
        WriteFileBytes(outside / L"secret.txt", "another account's file");
    }
    void TearDown() override { SetTreeListedHookForTest(nullptr); }

    // Replaces name in the source by a Unix link to the outside folder (or a file in it) once the
    // walk has listed the root.
    void SwapAfterListing(const std::wstring& name, const std::wstring& target)
    {
        const std::string item = UnixPath(source + L"\\" + name);
        g_swapCommand = "mv '" + item + "' '" + item + ".away' && ln -s '" + UnixPath(target) + "' '" + item + "'";
        SetTreeListedHookForTest(&SwapWhenTheRootIsListed);
    }

    ScratchLog log{L"links-log"};
    ScratchFolder folder{L"links"};
    ScratchFolder outside{L"links-outside"};
    std::wstring source = folder / L"real\\logs";
    std::wstring destination = folder / L"destination";
};

TEST_F(LinksOnTheWay, ALinkedComponentOfTheSourceRefusesTheWholeSource)
{
    const std::wstring linked = folder / L"linked";
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(folder / L"real") + "' '" + UnixPath(linked) + "'"), 0);
    const std::wstring below = linked + L"\\logs";

    EXPECT_EQ(LinkedComponent(below.c_str()), linked);
    EXPECT_EQ(LinkedComponent(source.c_str()), L"");
    EXPECT_EQ(CopyFolderTree(below.c_str(), destination.c_str(), true), kErrorStoppedOnLink);
    EXPECT_FALSE(FolderExists(destination));
    const std::string errors = log.ErrorLog();
    EXPECT_NE(errors.find("lies below " + Narrow(linked) + ", which is a link to " + Narrow(folder / L"real")),
              std::string::npos)
        << errors;

    EXPECT_EQ(CopyCollectedFile((below + L"\\top.log").c_str(), (folder / L"top-copy.log").c_str(), L"test"),
              kErrorStoppedOnLink);
    EXPECT_FALSE(FileExists(folder / L"top-copy.log"));
    RemoveUnixLink(linked);
}

TEST_F(LinksOnTheWay, AFolderThatBecomesALinkAfterItsListingIsNotEntered)
{
    SwapAfterListing(L"sub", outside.Path());
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), kErrorStoppedOnLink);
    EXPECT_TRUE(FileExists(destination + L"\\top.log"));
    EXPECT_FALSE(FileExists(destination + L"\\sub\\secret.txt"));
    EXPECT_NE(log.ErrorLog().find("The folder " + Narrow(source) + "\\sub became a link after it was listed"),
              std::string::npos)
        << log.ErrorLog();
    RemoveUnixLink(source + L"\\sub");

    // The estimate does not count what the link leads to either.
    MoveFileW((source + L"\\sub.away").c_str(), (source + L"\\sub").c_str());
    SwapAfterListing(L"sub", outside.Path());
    TreeSize size;
    EXPECT_EQ(MeasureFolderTree(source.c_str(), true, size), kErrorStoppedOnLink);
    EXPECT_EQ(size.files, 1u);
    RemoveUnixLink(source + L"\\sub");
}

TEST_F(LinksOnTheWay, AFileThatBecomesALinkAfterItsListingIsNotCopied)
{
    SwapAfterListing(L"top.log", outside / L"secret.txt");
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), kErrorStoppedOnLink);
    EXPECT_FALSE(FileExists(destination + L"\\top.log"));
    EXPECT_TRUE(FileExists(destination + L"\\sub\\own.log"));
    EXPECT_EQ(ReadFileBytes(outside / L"secret.txt"), "another account's file");
    EXPECT_NE(log.ErrorLog().find("top.log failed, Error:681"), std::string::npos) << log.ErrorLog();
    RemoveUnixLink(source + L"\\top.log");
}

TEST(TreeSizeTest, EachFileCountsAtMostTheCapAndTheFiveLargestAreKept)
{
    TreeSize size;
    size.fileCap = 1000;
    const ULONGLONG sizes[] = {10, 5000, 700, 999, 30, 1001, 800, 0};
    for (size_t i = 0; i < std::size(sizes); ++i)
        size.AddFile(L"f" + std::to_wstring(i), sizes[i]);
    EXPECT_EQ(size.files, 8u);
    EXPECT_EQ(size.bytes, 10u + 1000 + 700 + 999 + 30 + 1000 + 800);
    const std::pair<const wchar_t*, ULONGLONG> expected[] = {
        {L"f1", 1000}, {L"f5", 1000}, {L"f3", 999}, {L"f6", 800}, {L"f2", 700}};
    for (size_t i = 0; i < TreeSize::kLargestKept; ++i) {
        EXPECT_EQ(size.largest[i].path, expected[i].first) << i;
        EXPECT_EQ(size.largest[i].bytes, expected[i].second) << i;
    }
}

} // namespace
