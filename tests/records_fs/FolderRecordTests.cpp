#include "FsTestSupport.h"
#include "ListNodeData_FILEINFO.h"
#include "ListNodeData_FOLDERINFO.h"
#include "RecordTestSupport.h"
#include "SortedLinkList_FILEINFO.h"
#include "SortedLinkList_FOLDERINFO.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Tallis::ImageUpdate;
using namespace fstest;

namespace {

std::string BlockOf(const ListNodeData_FOLDERINFO& folder)
{
    const std::uint8_t* record = folder.Record();
    return std::string(reinterpret_cast<const char*>(record), ReadU32(record, 4));
}

FolderFields Rich()
{
    FolderFields f;
    f.name = L"\\Program Files\\Tool\\";
    f.shortName = L"TOOL";
    f.tag = L"tag-11-char";
    f.state = 2;
    f.attributes = 0x11;
    f.sd = L"O:BAG:SYD:(A;;FA;;;SY)";
    f.extra = std::string("\x01\x02\x03\x04\x05", 5);
    return f;
}

// What an older record reads as: the current layout with no time, slot or reserved word.
FolderFields Converted(FolderFields f)
{
    f.time = 0;
    f.slot = 0;
    f.reserved = 0;
    f.spare = 2;
    return f;
}

class FolderRecordTest : public FsFixture {
protected:
    // The reader on a folder block followed by an empty file list.
    std::unique_ptr<ListNodeData_FOLDERINFO> Read(const std::string& block, const std::string& fileList = U32(0))
    {
        std::unique_ptr<ListNodeData> node = ReadNode(&ListNodeData_FOLDERINFO::FromStream, Sized(block) + fileList);
        return std::unique_ptr<ListNodeData_FOLDERINFO>(static_cast<ListNodeData_FOLDERINFO*>(node.release()));
    }
};

TEST_F(FolderRecordTest, Version3GrowsByEightWithZeroTimeAndDropsTheLastTwoBytes)
{
    FolderFields f = Rich();
    std::string old = FolderBlockV3(f);
    old[old.size() - 2] = '\xAB';
    old[old.size() - 1] = '\xCD';
    const auto folder = Read(old);
    ASSERT_TRUE(folder);
    EXPECT_EQ(BlockOf(*folder), FolderBlockV4(Converted(f)));
    EXPECT_EQ(folder->DataSize(), std::int32_t(old.size() + 8));
}

TEST_F(FolderRecordTest, Version2MovesStateAttributesShortNameAndLengths)
{
    const FolderFields f = Rich();
    const std::string old = FolderBlockV2(f);
    const auto folder = Read(old);
    ASSERT_TRUE(folder);
    EXPECT_EQ(BlockOf(*folder), FolderBlockV4(Converted(f)));
    EXPECT_EQ(folder->DataSize(), std::int32_t(old.size() + 12));
}

TEST_F(FolderRecordTest, Version1HasNoTextAndNoExtraData)
{
    FolderFields f = Rich();
    f.tag = std::wstring(12, L'T'); // a full field without terminator: cut to 11
    const std::string old = FolderBlockV1(f);
    const auto folder = Read(old);
    ASSERT_TRUE(folder);
    FolderFields expected = Converted(f);
    expected.tag = std::wstring(11, L'T');
    expected.sd.reset();
    expected.extra.clear();
    EXPECT_EQ(BlockOf(*folder), FolderBlockV4(expected));
    EXPECT_EQ(folder->DataSize(), std::int32_t(old.size() + 16));
    EXPECT_EQ(folder->SecurityText(), nullptr);
}

TEST_F(FolderRecordTest, Version0GetsDefaultAuxFieldsAndAShortNameCutToThirteen)
{
    FolderFields f = Rich();
    f.shortName = std::wstring(14, L'S'); // fills the old field, no terminator
    const std::string old = FolderBlockV0(f);
    const auto folder = Read(old);
    ASSERT_TRUE(folder);
    FolderFields expected = Converted(f);
    expected.aux1 = 0;
    expected.aux2 = 0xFFFF;
    expected.tag = L"";
    expected.shortName = std::wstring(13, L'S');
    expected.sd.reset();
    expected.extra.clear();
    EXPECT_EQ(BlockOf(*folder), FolderBlockV4(expected));
    EXPECT_EQ(folder->DataSize(), std::int32_t(old.size() + 48));
}

TEST_F(FolderRecordTest, RecordsThatDoNotHoldTogetherAreRefused)
{
    const FolderFields f = Rich();
    const std::string good = FolderBlockV4(f);
    auto with = [&](std::size_t at, std::uint32_t value) { return Block(good.size()).Raw(0, good).U32(at, value).Str(); };
    const std::size_t textEnd = 0x6C + 2 * (f.name.size() + 1) + 2 * (f.sd->size() + 1);
    std::string textWithoutNul = good;
    textWithoutNul[textEnd - 2] = 'z';
    struct Case {
        const char* what;
        std::string block;
    };
    const Case cases[] = {
        {"version 5", with(0x00, 5)},
        {"header only", good.substr(0, 8)},
        {"shorter than the fixed part", Block(0x60).U32(0, 4).U32(4, 0x60).Str()},
        {"size field disagrees", with(0x04, std::uint32_t(good.size() + 2))},
        {"name past the block", with(0x60, 200)},
        {"huge name length", with(0x60, 0xFFFFFFF0u)},
        {"text past the block", with(0x64, 100)},
        {"text without terminator", textWithoutNul},
        {"extra data past the block", with(0x68, 9)},
        {"huge extra data length", with(0x68, 0xFFFFFFFFu)},
        {"short name without terminator", Block(good.size()).Raw(0, good).Chars(0x44, std::wstring(14, L'X')).Str()},
        {"tag without terminator", Block(good.size()).Raw(0, good).Chars(0x10, std::wstring(12, L'X')).Str()},
        {"version 3 size disagrees", Block(FolderBlockV3(f).size()).Raw(0, FolderBlockV3(f)).U32(4, 7).Str()},
        {"version 3 name past the block", Block(FolderBlockV3(f).size()).Raw(0, FolderBlockV3(f)).U32(0x58, 90).Str()},
        {"version 2 extra past the block",
         Block(FolderBlockV2(f).size()).Raw(0, FolderBlockV2(f)).U32(0x5C, 400).Str()},
        {"version 0 shorter than its fixed part", Block(0x30).U32(0, 0).U32(4, 0x30).Str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(c.block), nullptr);
    }
    // The same record, whole, is fine: the cases above fail for their one defect.
    EXPECT_NE(Read(good), nullptr);
}

TEST_F(FolderRecordTest, SameTimeIgnoresMillisecondsAndAcceptsAnOtherWithoutTime)
{
    FolderFields a = Rich();
    a.time = Utc(2022, 7, 8, 9, 10, 11, 5);
    FolderFields b = a;
    b.time = Utc(2022, 7, 8, 9, 10, 11, 995);
    FolderFields later = a;
    later.time = Utc(2022, 7, 8, 9, 10, 12);
    FolderFields none = a;
    none.time = 0;
    const auto x = Read(FolderBlockV4(a));
    EXPECT_TRUE(x->SameTime(Read(FolderBlockV4(b)).get()));
    EXPECT_FALSE(x->SameTime(Read(FolderBlockV4(later)).get()));
    EXPECT_TRUE(x->SameTime(Read(FolderBlockV4(none)).get()));
    EXPECT_FALSE(Read(FolderBlockV4(none))->SameTime(x.get()));
}

TEST_F(FolderRecordTest, SameExtraDataComparesLengthAndBytes)
{
    FolderFields a = Rich();
    FolderFields b = a;
    b.extra[4] = '\x06';
    FolderFields shorter = a;
    shorter.extra.pop_back();
    FolderFields none = a;
    none.extra.clear();
    const auto x = Read(FolderBlockV4(a));
    EXPECT_TRUE(x->SameExtraData(Read(FolderBlockV4(a)).get()));
    EXPECT_FALSE(x->SameExtraData(Read(FolderBlockV4(b)).get()));
    EXPECT_FALSE(x->SameExtraData(Read(FolderBlockV4(shorter)).get()));
    EXPECT_TRUE(Read(FolderBlockV4(none))->SameExtraData(Read(FolderBlockV4(none)).get()));
}

TEST_F(FolderRecordTest, DumpShowsTheFolderThenItsFiles)
{
    FolderFields f = Rich();
    FileFields file;
    file.name = L"tool.exe";
    file.shortName = L"TOOL.EXE";
    file.lastWrite = Utc(2016, 3, 7, 13, 5, 30);
    file.sizeLow = 0;
    file.state = 2;
    const auto folder = Read(FolderBlockV4(f), U32(1) + FileEntry(FileBlockV3(file)));
    ASSERT_TRUE(folder);
    EXPECT_EQ(Dump(*folder), "[\\Program Files\\Tool\\]\n"
                             "State     : REPLACE\n"
                             "SD        : O:BAG:SYD:(A;;FA;;;SY)\n"
                             "Short Name: TOOL\n"
                             "Attributes: 0X11\n"
                             "\n\n"
                             "File        : tool.exe\n"
                             "State       : REPLACE\n"
                             "SD          : \n"
                             "Short Name  : TOOL.EXE\n"
                             "Attributes  : 0X20\n"
                             "Mod    Date : 03/07/2016  14:05\n"
                             "File Size   : 0 Bytes\n"
                             "\n");
}

TEST_F(FolderRecordTest, DumpWithoutTextAndWithAnUnnamedState)
{
    FolderFields f;
    f.state = 7;
    const auto folder = Read(FolderBlockV4(f));
    ASSERT_TRUE(folder);
    const std::string dump = Dump(*folder);
    EXPECT_NE(dump.find("State     : UNKNOWN(7)\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SD        : \n"), std::string::npos) << dump;
    EXPECT_EQ(ListNodeData_FOLDERINFO::StateName(4), L"PATCHIT");
    EXPECT_EQ(ListNodeData_FOLDERINFO::StateName(5), L"CREATE");
}

TEST_F(FolderRecordTest, LogLineThenOneEntryPerFile)
{
    FolderFields f = Rich();
    FileFields a, b;
    a.name = L"a.txt";
    b.name = L"b.txt";
    const auto folder = Read(FolderBlockV4(f), U32(2) + FileEntry(FileBlockV3(a)) + FileEntry(FileBlockV3(b)));
    ASSERT_TRUE(folder);
    kvotest::LogCapture log;
    folder->LogLine();
    EXPECT_EQ(log.CountContaining(L"Name:\\Program Files\\Tool\\, State:REPLACE, SD:O:BAG:SYD:(A;;FA;;;SY)"), 1);
    EXPECT_EQ(log.CountContaining(L"Name:a.txt,State:NEW,SD:N/A"), 1);
    EXPECT_EQ(log.CountContaining(L"Name:b.txt,State:NEW,SD:N/A"), 1);
}

TEST_F(FolderRecordTest, FileOperationsWorkOnAFolderMadeWithoutTheReader)
{
    ListNodeData_FOLDERINFO folder;
    EXPECT_EQ(folder.FirstFile(), nullptr);
    EXPECT_FALSE(folder.AddFile(nullptr));
    auto* file = new ListNodeData_FILEINFO();
    const std::string block = FileBlockV3(FileFields{});
    ASSERT_TRUE(file->AdoptRecord(OwnedBlock(block), std::uint32_t(block.size())));
    EXPECT_TRUE(folder.AddFile(file));
    EXPECT_TRUE(folder.SortFiles());
    EXPECT_EQ(folder.FindFileByName(L"REPORT.txt"), file);
    EXPECT_EQ(folder.FindFileByShortName(L"report.txt"), file);
    EXPECT_EQ(folder.FirstSubFolder(), nullptr);
}

} // namespace
