#include "FsTestSupport.h"
#include "ListNodeData_FILEINFO.h"
#include "SortedLinkList_FOLDERINFO.h"
#include "StreamMutation.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace Tallis::ImageUpdate;
using namespace fstest;

namespace {

FileFields File(const std::wstring& name, std::uint32_t size)
{
    FileFields f;
    f.name = name;
    f.sizeLow = size;
    return f;
}

FolderFields Folder(const std::wstring& name)
{
    FolderFields f;
    f.name = name;
    f.sd = L"D:(A;;FA;;;SY)";
    f.extra = "xy";
    return f;
}

// Folders of the current and of older layouts, each with file records of several versions.
std::string MixedStream()
{
    return U32(4) +
           FolderEntry(FolderBlockV4(Folder(L"\\")), 2,
                       FileEntry(FileBlockV3(File(L"a.txt", 1))) + FileEntry(FileBlockV2(File(L"b.txt", 2)))) +
           FolderEntry(FolderBlockV3(Folder(L"\\x\\")), 1, FileEntry(FileBlockV1(File(L"c.txt", 3)))) +
           FolderEntry(FolderBlockV0(Folder(L"\\x\\y\\")), 1,
                       FileEntry(FileBlockV0(File(L"d.txt", 4), std::wstring(L"O:SY")))) +
           FolderEntry(FolderBlockV2(Folder(L"\\z\\")), 0, "");
}

class FolderStreamRobustness : public FsFixture {};

TEST_F(FolderStreamRobustness, MutatedFolderAndFileStreamsLoadOrFailCleanly)
{
    const std::string valid = MixedStream();
    {
        // The base stream itself loads whole, or the mutations would prove little.
        SortedLinkList_FOLDERINFO list;
        ASSERT_EQ(LoadBytes(list, valid), 0);
        ASSERT_EQ(list.Count(), 4);
    }
    const auto start = std::chrono::steady_clock::now();
    const kvotest::MutationReport report = kvotest::RunStreamMutations(valid, 20261209u, 3000, [](FILE* stream) {
        SortedLinkList_FOLDERINFO list;
        const int result = int(list.Load(stream));
        // Walk what was read: every record that came through must be usable.
        for (ListNodeData_FOLDERINFO* folder = list.FirstFolder(); folder; folder = list.NextFolder()) {
            for (ListNodeData_FILEINFO* file = folder->FirstFile(); file; file = folder->NextFile())
                (void)file->FileName();
            (void)list.FindFileByPath(folder->Name(), nullptr);
        }
        return result;
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(report.runs, 3000);
    EXPECT_EQ(report.unexpected, 0);
    EXPECT_GT(report.failed, 0);
    EXPECT_GT(report.succeeded, 0);
    std::printf("folder mutations: %d runs, %d loaded, %d failed, %.2f s\n", report.runs, report.succeeded,
                report.failed, seconds);
}

} // namespace
