#include "FileCopy.h"
#include "FileSystem.h"
#include "LogCapture.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

void MakeTree(const std::wstring& root)
{
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((root + L"\\sub\\deeper").c_str(), nullptr);
    WriteFileBytes(root + L"\\top.log", "top level\r\n");
    WriteFileBytes(root + L"\\sub\\mid.bin", std::string("\x00\x01\x02\xFF", 4));
    WriteFileBytes(root + L"\\sub\\deeper\\\u00e9t\u00e9.txt", "summer");
}

} // namespace

class CopyFolderTreeTest : public ::testing::Test {
protected:
    ScratchLog log{L"copy-log"};
    ScratchFolder folder{L"copy"};
    std::wstring source = folder / L"source";
    std::wstring destination = folder / L"destination";
};

TEST_F(CopyFolderTreeTest, CopiesTheWholeTreeIntoANewDestination)
{
    MakeTree(source);
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), 0u);
    EXPECT_TRUE(TreesEqual(source, destination));
    EXPECT_EQ(log.ErrorLog(), "");
}

// The destination is always the run's own: what is there already (a stale file, a folder another
// account made, a link) is neither overwritten nor written through.
TEST_F(CopyFolderTreeTest, WhatExistsInTheDestinationIsNeitherOverwrittenNorUsed)
{
    MakeTree(source);
    CreateDirectoryW(destination.c_str(), nullptr);
    WriteFileBytes(destination + L"\\top.log", "stale content that is longer");
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ListTree(destination), std::vector<std::wstring>{L"top.log"});
    EXPECT_EQ(ReadFileBytes(destination + L"\\top.log"), "stale content that is longer");
    EXPECT_NE(log.ErrorLog().find("exists already: nothing is copied into it"), std::string::npos) << log.ErrorLog();

    // A file planted where the copy goes, as a link to a file outside (Wine shows it as a plain file).
    const std::wstring fresh = folder / L"fresh";
    ScratchFolder outside(L"copy-outside");
    WriteFileBytes(outside / L"victim.txt", "must stay");
    CreateDirectoryW((source + L"\\only").c_str(), nullptr);
    WriteFileBytes(source + L"\\only\\victim.txt", "written through the link");
    const std::wstring planted = fresh + L"\\victim.txt";
    CreateDirectoryW(fresh.c_str(), nullptr);
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(outside / L"victim.txt") + "' '" + UnixPath(planted) + "'"), 0);
    EXPECT_NE(CopyCollectedFile((source + L"\\only\\victim.txt").c_str(), planted.c_str(), L"test"), 0u);
    EXPECT_EQ(ReadFileBytes(outside / L"victim.txt"), "must stay");
    EXPECT_TRUE(FileExists(planted)) << "an existing name is not removed either";
    RemoveUnixLink(planted);
}

TEST_F(CopyFolderTreeTest, ASourceThatIsALinkIsNotFollowed)
{
    MakeTree(source);
    const std::wstring link = folder / L"linked-source";
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(source) + "' '" + UnixPath(link) + "'"), 0);
    ASSERT_TRUE(IsReparsePoint(link.c_str()));
    EXPECT_FALSE(IsReparsePoint(source.c_str()));
    EXPECT_EQ(CopyFolderTree(link.c_str(), destination.c_str(), true), kErrorStoppedOnLink);
    EXPECT_FALSE(FolderExists(destination));
    EXPECT_NE(log.ErrorLog().find("is a link to "), std::string::npos) << log.ErrorLog();
    EXPECT_NE(log.ErrorLog().find(Narrow(source)), std::string::npos) << "the target is named: " << log.ErrorLog();
    TreeSize size;
    EXPECT_EQ(MeasureFolderTree(link.c_str(), true, size), kErrorStoppedOnLink);
    EXPECT_EQ(size.files, 0u);
    RemoveTree(link);
}

TEST_F(CopyFolderTreeTest, RemoveFolderTreeRemovesEverythingButWhatALinkLeadsTo)
{
    MakeTree(source);
    const std::wstring doomed = folder / L"doomed";
    MakeTree(doomed);
    SetFileAttributesW((doomed + L"\\top.log").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RemoveFolderTree(doomed.c_str()), 0u);
    EXPECT_FALSE(FolderExists(doomed));

    // Wine cannot remove a folder link through Win32 (Windows removes the link itself): the result
    // differs, but what the link leads to must survive on both.
    MakeTree(doomed);
    ASSERT_EQ(RunUnixShell("ln -s '" + UnixPath(source) + "' '" + UnixPath(doomed + L"\\sub\\link") + "'"), 0);
    (void)RemoveFolderTree(doomed.c_str());
    EXPECT_TRUE(FileExists(source + L"\\sub\\mid.bin"));
    EXPECT_TRUE(FileExists(source + L"\\top.log"));
    EXPECT_FALSE(FileExists(doomed + L"\\top.log"));
    EXPECT_FALSE(FolderExists(doomed + L"\\sub\\deeper"));
    RemoveTree(doomed);
    EXPECT_NE(RemoveFolderTree((folder / L"absent").c_str()), 0u);
}

TEST_F(CopyFolderTreeTest, WithoutRecursionOnlyTheTopFilesAreCopied)
{
    MakeTree(source);
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), false), 0u);
    EXPECT_EQ(ListTree(destination), std::vector<std::wstring>{L"top.log"});
}

TEST_F(CopyFolderTreeTest, MissingSourceLeavesAnEmptyDestination)
{
    EXPECT_EQ(CopyFolderTree((folder / L"nothing-here").c_str(), destination.c_str(), true), 0u);
    EXPECT_TRUE(FolderExists(destination));
    EXPECT_TRUE(ListTree(destination).empty());
}

TEST_F(CopyFolderTreeTest, BadArgumentsGiveAClearCode)
{
    EXPECT_EQ(CopyFolderTree(nullptr, destination.c_str(), true), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CopyFolderTree(source.c_str(), L"", true), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(CopyFolderTreeTest, ReparsePointsAreNeitherCopiedNorFollowed)
{
    MakeTree(source);
    const std::string unixSource = UnixPath(source);
    ASSERT_FALSE(unixSource.empty());
    ASSERT_EQ(RunUnixShell("ln -s '" + unixSource + "/sub' '" + unixSource + "/linked-folder'"), 0);
    ASSERT_NE(GetFileAttributesW((source + L"\\linked-folder").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), 0u);
    EXPECT_FALSE(FolderExists(destination + L"\\linked-folder"));
    EXPECT_TRUE(FileExists(destination + L"\\sub\\mid.bin"));
}

TEST_F(CopyFolderTreeTest, AFileThatCannotBeCopiedIsPassedOverAndItsCodeReturned)
{
    // One file of the inner folder is held open without sharing; the files before and after it, and
    // the folders after it, must still arrive.
    MakeTree(source);
    const std::wstring inner = source + L"\\sub\\deeper";
    for (int i = 0; i < 6; ++i)
        WriteFileBytes(inner + L"\\file" + std::to_wstring(i) + L".log", "line " + std::to_string(i));
    std::vector<std::wstring> order;
    {
        WIN32_FIND_DATAW entry;
        unique_hfind search(FindFirstFileW((inner + L"\\*.*").c_str(), &entry));
        ASSERT_TRUE(search.is_valid());
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                order.push_back(entry.cFileName);
        } while (FindNextFileW(search.get(), &entry));
    }
    ASSERT_EQ(order.size(), 7u);
    const std::wstring locked = inner + L"\\" + order[3];
    unique_hfile holder(CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.is_valid());

    // A second failure in a later folder: the code returned stays the first one.
    CreateDirectoryW((source + L"\\zlast").c_str(), nullptr);
    WriteFileBytes(source + L"\\zlast\\after.log", "after");
    WriteFileBytes(source + L"\\zlast\\denied.log", "denied");
    unique_hfile second(CreateFileW((source + L"\\zlast\\denied.log").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(second.is_valid());

    const DWORD result = CopyFolderTree(source.c_str(), destination.c_str(), true);
    EXPECT_EQ(result, DWORD(ERROR_SHARING_VIOLATION));
    const std::wstring copiedInner = destination + L"\\sub\\deeper";
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(FileExists(copiedInner + L"\\" + order[i]), i != 3) << Narrow(order[i]);
    EXPECT_TRUE(FileExists(destination + L"\\zlast\\after.log"));
    EXPECT_FALSE(FileExists(destination + L"\\zlast\\denied.log"));
    EXPECT_TRUE(FileExists(destination + L"\\top.log"));

    const auto errors = LogLines(log.ErrorLog());
    ASSERT_EQ(errors.size(), 2u);
    const std::string expected = "] CopyFile " + Narrow(locked) + " ==> " + Narrow(copiedInner + L"\\" + order[3]) +
                                 " failed, Error:32";
    const bool named = errors[0].find(expected) != std::string::npos || errors[1].find(expected) != std::string::npos;
    EXPECT_TRUE(named) << errors[0] << "\n" << errors[1];
    EXPECT_NE(errors[0].find("WSFileSystem   ["), std::string::npos);
}

TEST_F(CopyFolderTreeTest, TreesDeeperThanThreeHundredCharactersCopyExactly)
{
    std::wstring deep = source;
    CreateDirectoryW(source.c_str(), nullptr);
    for (int level = 0; level < 8; ++level) {
        deep += L"\\level" + std::to_wstring(level) + L"-" + std::wstring(40, L'q');
        ASSERT_TRUE(CreateDirectoryW(LongForm(deep).c_str(), nullptr));
        WriteFileBytes(deep + L"\\data" + std::to_wstring(level) + L".txt", std::string(size_t(level) * 1000, 'v'));
    }
    ASSERT_GT(deep.size(), 300u);
    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), 0u);
    EXPECT_TRUE(TreesEqual(source, destination));
}

class PathExistsTest : public ::testing::Test {
protected:
    ScratchFolder folder{L"exists"};
};

TEST_F(PathExistsTest, FoldersFilesAndWildcards)
{
    WriteFileBytes(folder / L"marker.GUID", "");
    EXPECT_TRUE(PathExists(folder.Path().c_str()));
    EXPECT_TRUE(PathExists((folder.Path() + L"\\").c_str()));
    EXPECT_TRUE(PathExists((folder / L"MARKER.guid").c_str()));
    EXPECT_TRUE(PathExists((folder / L"*.GUID").c_str()));
    EXPECT_FALSE(PathExists((folder / L"*.none").c_str()));
    EXPECT_FALSE(PathExists((folder / L"absent").c_str()));
    EXPECT_FALSE(PathExists(L""));
    EXPECT_FALSE(PathExists(nullptr));
}
