#include "FsTestSupport.h"
#include "ListNodeData_FILEINFO.h"
#include "ListNodeData_FOLDERINFO.h"
#include "SortedLinkList_FILEINFO.h"
#include "SortedLinkList_FOLDERINFO.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

using namespace Tallis::ImageUpdate;
using namespace fstest;

namespace {

struct SnapshotFolder {
    FolderFields fields;
    std::vector<FileFields> files;
};

std::string BlockOf(const std::uint8_t* record)
{
    return std::string(reinterpret_cast<const char*>(record), ReadU32(record, 4));
}

FileFields NamedFile(const std::wstring& name, std::uint32_t size)
{
    FileFields f;
    f.name = name;
    f.shortName = name.substr(0, 8);
    f.sizeLow = size;
    f.lastWrite = Utc(2023, 1, 2, 3, 4, 5) + size;
    f.state = std::int32_t(size % 7);
    f.securityId = 1001 + std::int32_t(size % 3);
    f.contentId = size * 1000ull;
    return f;
}

FolderFields NamedFolder(const std::wstring& name, const std::wstring& shortName)
{
    FolderFields f;
    f.name = name;
    f.shortName = shortName;
    f.state = std::uint32_t(name.size() % 6);
    f.time = Utc(2022, 6, 1, 12, 0, 0) + name.size();
    return f;
}

// A snapshot of nested folders: the root, \a\, \a\b\, \a\b\c\ with more than 12 files, a
// folder name with a blank, and enough other folders that look-ups binary-search.
std::vector<SnapshotFolder> Snapshot()
{
    std::vector<SnapshotFolder> folders;
    SnapshotFolder root{NamedFolder(L"\\", L""), {NamedFile(L"root.txt", 1)}};
    root.fields.slot = 0x1122334455667788ull; // stored bytes of the slot, written back as read
    folders.push_back(root);
    SnapshotFolder a{NamedFolder(L"\\a\\", L"A"), {NamedFile(L"one.txt", 11), NamedFile(L"two.txt", 22)}};
    a.fields.sd = L"O:BAG:BAD:(A;OICI;FA;;;BA)";
    a.fields.extra = std::string("\x00\x01\x02\xFF", 4);
    folders.push_back(a);
    folders.push_back({NamedFolder(L"\\a\\b\\", L"B"), {NamedFile(L"deep.bin", 33)}});
    SnapshotFolder c{NamedFolder(L"\\a\\b\\c\\", L"C"), {}};
    for (int i = 0; i < 14; ++i)
        c.files.push_back(NamedFile(L"file" + std::to_wstring(100 + i) + L".dat", std::uint32_t(100 + i)));
    folders.push_back(c);
    SnapshotFolder other{NamedFolder(L"\\Other Dir\\", L"OTHER~1"), {NamedFile(L"x y.doc", 44)}};
    other.fields.tag = L"tagged";
    other.fields.aux1 = 9;
    other.fields.reserved = 3;
    folders.push_back(other);
    for (int i = 0; i < 10; ++i)
        folders.push_back({NamedFolder(L"\\filler" + std::to_wstring(i) + L"\\", L"FILLER" + std::to_wstring(i)), {}});
    return folders;
}

std::string StreamOf(const std::vector<SnapshotFolder>& folders)
{
    std::string stream = U32(std::uint32_t(folders.size()));
    for (const SnapshotFolder& planned : folders) {
        std::string files;
        for (const FileFields& file : planned.files)
            files += FileEntry(FileBlockV3(file));
        stream += FolderEntry(FolderBlockV4(planned.fields), std::int32_t(planned.files.size()), files);
    }
    return stream;
}

class FolderListTest : public FsFixture {
protected:
    // Every folder and file of the snapshot, byte for byte.
    void ExpectHolds(SortedLinkList_FOLDERINFO& list, const std::vector<SnapshotFolder>& folders)
    {
        ASSERT_EQ(list.Count(), std::int32_t(folders.size()));
        for (const SnapshotFolder& planned : folders) {
            SCOPED_TRACE(kvotest::Narrow(planned.fields.name));
            ListNodeData_FOLDERINFO* folder = list.FindFolderByPath(planned.fields.name.c_str(), false);
            ASSERT_NE(folder, nullptr);
            EXPECT_EQ(BlockOf(folder->Record()), FolderBlockV4(planned.fields));
            ASSERT_NE(folder->Files(), nullptr);
            EXPECT_EQ(folder->Files()->Count(), std::int32_t(planned.files.size()));
            for (const FileFields& file : planned.files) {
                ListNodeData_FILEINFO* found = folder->FindFileByName(file.name.c_str());
                ASSERT_NE(found, nullptr);
                EXPECT_EQ(BlockOf(found->Record()), FileBlockV3(file));
            }
        }
    }
};

TEST_F(FolderListTest, SavedAndLoadedListKeepsEveryFolderAndFile)
{
    const std::vector<SnapshotFolder> folders = Snapshot();
    SortedLinkList_FOLDERINFO first;
    ASSERT_EQ(LoadBytes(first, StreamOf(folders)), 0);
    ExpectHolds(first, folders);

    const std::string saved = SavedList(first);
    EXPECT_EQ(saved.size(), StreamOf(folders).size());
    SortedLinkList_FOLDERINFO second;
    ASSERT_EQ(LoadBytes(second, saved), 0);
    ExpectHolds(second, folders);
    EXPECT_EQ(SavedList(second), saved);
}

TEST_F(FolderListTest, SlotBytesAreWrittenAsStoredAndTheFileListLivesInTheNode)
{
    FolderFields f = NamedFolder(L"\\slot\\", L"SLOT");
    f.slot = 0xA1B2C3D4E5F60718ull;
    const std::string stream = U32(1) + FolderEntry(FolderBlockV4(f), 1, FileEntry(FileBlockV3(NamedFile(L"s", 1))));
    SortedLinkList_FOLDERINFO list;
    ASSERT_EQ(LoadBytes(list, stream), 0);
    ListNodeData_FOLDERINFO* folder = list.FirstFolder();
    ASSERT_NE(folder, nullptr);
    ASSERT_NE(folder->FirstFile(), nullptr);
    EXPECT_EQ(ReadU32(folder->Record(), 0x28), 0xE5F60718u);
    EXPECT_EQ(ReadU32(folder->Record(), 0x2C), 0xA1B2C3D4u);
    EXPECT_EQ(SavedList(list), stream);
}

class FolderLookupTest : public FolderListTest {
protected:
    void SetUp() override { ASSERT_EQ(LoadBytes(list, StreamOf(Snapshot())), 0); }

    static std::wstring NameOf(const ListNodeData_FOLDERINFO* folder) { return folder ? folder->Name() : L"(none)"; }

    SortedLinkList_FOLDERINFO list;
};

TEST_F(FolderLookupTest, ExactPathsAreNormalisedToLeadingAndTrailingBackslashes)
{
    EXPECT_EQ(NameOf(list.FindFolderByPath(L"\\", false)), L"\\");
    EXPECT_EQ(NameOf(list.FindFolderByPath(L"", false)), L"\\");
    EXPECT_EQ(NameOf(list.FindFolderByPath(nullptr, false)), L"\\");
    EXPECT_EQ(NameOf(list.FindFolderByPath(L"\\a\\", false)), L"\\a\\");
    EXPECT_EQ(NameOf(list.FindFolderByPath(L"a\\b", false)), L"\\a\\b\\");
    EXPECT_EQ(NameOf(list.FindFolderByPath(L"\\A\\B\\C", false)), L"\\a\\b\\c\\");
    EXPECT_EQ(NameOf(list.FindFolderByPath(L"\\other dir", false)), L"\\Other Dir\\");
    EXPECT_EQ(list.FindFolderByPath(L"\\a\\b\\c\\d", false), nullptr);
    EXPECT_EQ(list.FindFolderByPath(L"\\filler", false), nullptr);
}

TEST_F(FolderLookupTest, NearestLookupShortensTheCallersText)
{
    wchar_t text[] = L"\\a\\b\\c\\d\\e";
    EXPECT_EQ(NameOf(list.LookupFolder(text, true)), L"\\a\\b\\c\\");
    EXPECT_STREQ(text, L"\\a\\b\\c\\");

    wchar_t own[] = L"\\a\\b\\";
    EXPECT_EQ(NameOf(list.LookupFolder(own, true)), L"\\a\\b\\"); // a trailing backslash: itself first
    EXPECT_STREQ(own, L"\\a\\b\\");

    wchar_t missing[] = L"\\nowhere\\deeper\\file.txt";
    EXPECT_EQ(NameOf(list.LookupFolder(missing, true)), L"\\");
    EXPECT_STREQ(missing, L"\\");

    wchar_t bare[] = L"nobackslash";
    EXPECT_EQ(list.LookupFolder(bare, true), nullptr);
    wchar_t empty[] = L"";
    EXPECT_EQ(list.LookupFolder(empty, true), nullptr);

    const std::wstring callers = L"\\a\\b\\zz\\q.txt";
    EXPECT_EQ(NameOf(list.FindFolderByPath(callers.c_str(), true)), L"\\a\\b\\");
    EXPECT_EQ(callers, L"\\a\\b\\zz\\q.txt");
}

TEST_F(FolderLookupTest, ParentFolders)
{
    EXPECT_EQ(list.FindParentFolder(L"\\"), nullptr);
    EXPECT_EQ(NameOf(list.FindParentFolder(L"\\a\\")), L"\\");
    EXPECT_EQ(NameOf(list.FindParentFolder(L"\\a\\b\\")), L"\\a\\");
    EXPECT_EQ(NameOf(list.FindParentFolder(L"\\a\\b")), L"\\a\\");
    EXPECT_EQ(NameOf(list.FindParentFolder(L"\\a\\b\\c\\x.dat")), L"\\a\\b\\c\\");
}

TEST_F(FolderLookupTest, FilesByFullPath)
{
    ListNodeData_FOLDERINFO* folder = nullptr;
    ListNodeData_FILEINFO* file = list.FindFileByPath(L"\\a\\b\\c\\FILE107.dat", &folder);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->FileName(), L"file107.dat");
    EXPECT_EQ(NameOf(folder), L"\\a\\b\\c\\");

    file = list.FindFileByPath(L"\\a\\two.txt\\", &folder); // one trailing backslash is removed
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->FileName(), L"two.txt");

    EXPECT_EQ(list.FindFileByPath(L"\\a\\missing.txt", &folder), nullptr);
    EXPECT_EQ(NameOf(folder), L"\\a\\");
    EXPECT_EQ(list.FindFileByPath(L"\\zz\\one.txt", &folder), nullptr);
    EXPECT_EQ(folder, nullptr);

    file = list.SplitAndFindFile(L"\\root.txt", &folder);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(NameOf(folder), L"\\");
}

TEST_F(FolderLookupTest, BareFileNameFindsNothing)
{
    ListNodeData_FOLDERINFO* folder = list.FirstFolder();
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(list.SplitAndFindFile(L"root.txt", &folder), nullptr);
    EXPECT_EQ(folder, nullptr);
}

TEST_F(FolderLookupTest, ShortNamesKeyNodesAndWalks)
{
    EXPECT_EQ(NameOf(list.FindFolderByShortName(L"other~1")), L"\\Other Dir\\");
    EXPECT_EQ(list.FindFolderByShortName(L"NOPE"), nullptr);

    const ListNodeData_FOLDERINFO key(L"\\A\\");
    EXPECT_EQ(NameOf(list.FindFolder(&key)), L"\\a\\");

    const std::string block = FileBlockV3(NamedFile(L"TWO.TXT", 0));
    ListNodeData_FILEINFO fileKey;
    ASSERT_TRUE(fileKey.AdoptRecord(OwnedBlock(block), std::uint32_t(block.size())));
    ListNodeData_FILEINFO* hit = list.FindFileInFolder(&key, &fileKey);
    ASSERT_NE(hit, nullptr);
    EXPECT_STREQ(hit->FileName(), L"two.txt");
    const ListNodeData_FOLDERINFO elsewhere(L"\\a\\b\\");
    EXPECT_EQ(list.FindFileInFolder(&elsewhere, &fileKey), nullptr);

    int walked = 0;
    const ListNodeData_FOLDERINFO* previous = nullptr;
    for (ListNodeData_FOLDERINFO* folder = list.FirstFolder(); folder; folder = list.NextFolder()) {
        if (previous) {
            EXPECT_LE(previous->Compare(folder), 0);
        }
        previous = folder;
        ++walked;
    }
    EXPECT_EQ(walked, list.Count());
}

// A folder's file list that is not read whole must fail the folder, and with it the outer list.
class FolderStreamMendTest : public FolderListTest {};

TEST_F(FolderStreamMendTest, StreamCutInsideTheLastFileListFailsTheLoad)
{
    const std::string a = FolderEntry(FolderBlockV4(NamedFolder(L"\\a\\", L"A")), 1,
                                      FileEntry(FileBlockV3(NamedFile(L"one", 1))));
    // Announces two files, but the stream ends after the first.
    const std::string b = FolderEntry(FolderBlockV4(NamedFolder(L"\\b\\", L"B")), 2,
                                      FileEntry(FileBlockV3(NamedFile(L"two", 2))));
    SortedLinkList_FOLDERINFO list;
    EXPECT_EQ(LoadBytes(list, U32(2) + a + b), -1);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FindFolderByPath(L"\\b\\", false), nullptr);
}

TEST_F(FolderStreamMendTest, FailedFileRecordDoesNotLeaveTheRestOfItsListToTheOuterLoad)
{
    FileFields bad = NamedFile(L"bad", 2);
    const std::string badBlock = Block(FileBlockV3(bad).size()).Raw(0, FileBlockV3(bad)).U32(0, 4).Str();
    const std::string a = FolderEntry(FolderBlockV4(NamedFolder(L"\\a\\", L"A")), 3,
                                      FileEntry(FileBlockV3(NamedFile(L"one", 1))) + FileEntry(badBlock) +
                                          FileEntry(FileBlockV3(NamedFile(L"three", 3))));
    const std::string b = FolderEntry(FolderBlockV4(NamedFolder(L"\\b\\", L"B")), 0, "");
    SortedLinkList_FOLDERINFO list;
    EXPECT_EQ(LoadBytes(list, U32(2) + a + b), -1);
    for (ListNodeData* node = list.First(); node; node = list.Next())
        EXPECT_EQ(node->TypeCode(), ListNodeData_FOLDERINFO::kTypeCode);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(FolderStreamMendTest, ValidStreamStillLoadsWithResultZero)
{
    const std::string a = FolderEntry(FolderBlockV4(NamedFolder(L"\\a\\", L"A")), 2,
                                      FileEntry(FileBlockV3(NamedFile(L"one", 1))) +
                                          FileEntry(FileBlockV2(NamedFile(L"old", 5))));
    const std::string b = FolderEntry(FolderBlockV1(NamedFolder(L"\\b\\", L"B")), 1,
                                      FileEntry(FileBlockV0(NamedFile(L"older", 6), std::nullopt)));
    SortedLinkList_FOLDERINFO list;
    EXPECT_EQ(LoadBytes(list, U32(2) + a + b), 0);
    ASSERT_EQ(list.Count(), 2);
    ASSERT_NE(list.FindFileByPath(L"\\a\\old", nullptr), nullptr);
    ASSERT_NE(list.FindFileByPath(L"\\b\\older", nullptr), nullptr);
}

TEST_F(FolderStreamMendTest, FolderInsideAFileListIsRefused)
{
    const std::string inner = FolderEntry(FolderBlockV4(NamedFolder(L"\\inner\\", L"I")), 0, "");
    const std::string outer = FolderEntry(FolderBlockV4(NamedFolder(L"\\outer\\", L"O")), 1, inner);
    SortedLinkList_FOLDERINFO list;
    EXPECT_EQ(LoadBytes(list, U32(1) + outer), -1);
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
