#include "FsTestSupport.h"
#include "ListNodeData_FILEINFO.h"
#include "RecordTestSupport.h"
#include "SortedLinkList_FILEINFO.h"
#include "SortedLinkList_STR.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Tallis::ImageUpdate;
using namespace fstest;

namespace {

std::string BlockOf(const ListNodeData_FILEINFO& file)
{
    const std::uint8_t* record = file.Record();
    return std::string(reinterpret_cast<const char*>(record), ReadU32(record, 4));
}

WIN32_FIND_DATAW Entry(const std::wstring& name, std::uint64_t lastWrite, std::uint32_t sizeLow,
                       std::uint32_t sizeHigh = 0)
{
    WIN32_FIND_DATAW entry{};
    entry.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    entry.ftCreationTime = AsFileTime(lastWrite - 1000);
    entry.ftLastAccessTime = AsFileTime(lastWrite + 1000);
    entry.ftLastWriteTime = AsFileTime(lastWrite);
    entry.nFileSizeHigh = sizeHigh;
    entry.nFileSizeLow = sizeLow;
    wcsncpy(entry.cFileName, name.c_str(), MAX_PATH - 1);
    return entry;
}

// A node made from a directory entry, as a snapshot would make it.
std::unique_ptr<ListNodeData_FILEINFO> MadeFile(const WIN32_FIND_DATAW& entry, const wchar_t* sd = nullptr,
                                                std::int32_t state = 1)
{
    auto file = std::make_unique<ListNodeData_FILEINFO>();
    ListNodeData_FILEINFO::Block block = ListNodeData_FILEINFO::MakeFileRecord(entry, sd, state);
    const std::uint32_t bytes = ReadU32(block.get(), 4);
    EXPECT_TRUE(file->AdoptRecord(std::move(block), bytes));
    return file;
}

class FileRecordTest : public FsFixture {
protected:
    std::unique_ptr<ListNodeData_FILEINFO> Read(const std::string& block, long* consumed = nullptr)
    {
        std::unique_ptr<ListNodeData> node = ReadNode(&ListNodeData_FILEINFO::FromStream, Sized(block), consumed);
        return std::unique_ptr<ListNodeData_FILEINFO>(static_cast<ListNodeData_FILEINFO*>(node.release()));
    }
};

TEST_F(FileRecordTest, BlockMadeFromEntryFollowsTheCurrentLayout)
{
    WIN32_FIND_DATAW entry = Entry(L"abcdefghij", 0x01D2030405060708ull, 0x1234, 0x5);
    wcscpy(entry.cAlternateFileName, L"ABCDEF~1.TXT");
    const ListNodeData_FILEINFO::Block block = ListNodeData_FILEINFO::MakeFileRecord(entry, nullptr, 2);
    ASSERT_TRUE(block);
    const std::string bytes(reinterpret_cast<const char*>(block.get()), 172);
    EXPECT_EQ(ReadU32(bytes, 0), 3u);
    EXPECT_EQ(ReadU32(bytes, 4), 172u);
    EXPECT_EQ(ReadU32(bytes, 8), 0u);
    EXPECT_EQ(ReadU32(bytes, 12), 0xFFFFu);
    EXPECT_EQ(bytes.substr(16, 8), std::string(8, '\0'));
    EXPECT_EQ(ReadU32(bytes, 24), 2u);
    EXPECT_EQ(ReadU32(bytes, 32), std::uint32_t(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ReadU32(bytes, 52), 0x05060708u);
    EXPECT_EQ(ReadU32(bytes, 56), 0x01D20304u);
    EXPECT_EQ(ReadU32(bytes, 60), 0x5u);
    EXPECT_EQ(ReadU32(bytes, 64), 0x1234u);
    EXPECT_EQ(bytes.substr(68, 26), TextBytes(L"ABCDEF~1.TXT"));
    EXPECT_EQ(ReadU32(bytes, 128), 1u); // no security text
    EXPECT_EQ(ReadU32(bytes, 132), 10u);
    EXPECT_EQ(bytes.substr(136, 8), std::string(8, '\0'));
    EXPECT_EQ(bytes.substr(144, 22), TextBytes(L"abcdefghij"));
    EXPECT_EQ(bytes.substr(166), std::string(6, '\0'));
}

TEST_F(FileRecordTest, ShortNameOfAnEntryIsCutToThirteenCharacters)
{
    WIN32_FIND_DATAW entry = Entry(L"x", 1, 1);
    for (wchar_t& c : entry.cAlternateFileName)
        c = L'S'; // all 14 characters, no terminator
    auto file = MadeFile(entry);
    EXPECT_STREQ(file->ShortName(), std::wstring(13, L'S').c_str());
}

TEST_F(FileRecordTest, Version2BlockGrowsByTwelveAndKeepsItsHeaderWords)
{
    FileFields f;
    f.auxText = std::wstring(16, L'A'); // a full field without terminator: cut to 15
    const std::string old = FileBlockV2(f);
    const auto file = Read(old);
    ASSERT_TRUE(file);
    FileFields expected = f;
    expected.auxText = std::wstring(15, L'A');
    expected.spare = f.spare + 4; // 12 more bytes, 8 of them taken by contentId
    EXPECT_EQ(BlockOf(*file), FileBlockV3(expected));
    EXPECT_EQ(file->DataSize(), std::int32_t(old.size() + 12));
}

TEST_F(FileRecordTest, Version1BlockGrowsByTwentyEightWithDefaultsForTheNewWords)
{
    FileFields f;
    f.name = L"old-layout-file.bin";
    const std::string old = FileBlockV1(f);
    const auto file = Read(old);
    ASSERT_TRUE(file);
    FileFields expected = f;
    expected.aux1 = 0;
    expected.aux2 = 0xFFFF;
    expected.aux3 = 0;
    expected.spare = f.spare + 4;
    EXPECT_EQ(BlockOf(*file), FileBlockV3(expected));
    EXPECT_EQ(file->DataSize(), std::int32_t(old.size() + 28));
    EXPECT_STREQ(file->FileName(), L"old-layout-file.bin");
}

TEST_F(FileRecordTest, Version0BlockIsRemadeFromItsDirectoryEntry)
{
    FileFields f;
    f.name = L"legacy.dat";
    f.shortName = L"LEGACY.DAT";
    f.state = 4;
    const auto noText = Read(FileBlockV0(f, std::nullopt));
    ASSERT_TRUE(noText);
    FileFields expected = f;
    expected.aux1 = 0;
    expected.aux2 = 0xFFFF;
    expected.aux3 = 0;
    expected.auxText = L"";
    expected.securityId = 1;
    EXPECT_EQ(BlockOf(*noText), FileBlockV3(expected));

    const auto emptyText = Read(FileBlockV0(f, std::wstring()));
    ASSERT_TRUE(emptyText);
    EXPECT_EQ(emptyText->SecurityId(), 0);
}

TEST_F(FileRecordTest, Version0SecurityTextsAreSharedAcrossLetterCase)
{
    FileFields f;
    const auto upper = Read(FileBlockV0(f, std::wstring(L"O:BAG:SYD:(A;;FA;;;BA)-shared-case")));
    const auto lower = Read(FileBlockV0(f, std::wstring(L"o:bag:syd:(a;;fa;;;ba)-SHARED-CASE")));
    ASSERT_TRUE(upper);
    ASSERT_TRUE(lower);
    EXPECT_GE(upper->SecurityId(), 1001);
    EXPECT_EQ(upper->SecurityId(), lower->SecurityId());
    EXPECT_STREQ(ListNodeData_FILEINFO::SecurityText(lower->Record()), L"O:BAG:SYD:(A;;FA;;;BA)-shared-case");
}

TEST_F(FileRecordTest, ReaderConsumesExactlyTheStoredBytes)
{
    FileFields f;
    const std::string block = FileBlockV3(f);
    long consumed = 0;
    const std::unique_ptr<ListNodeData> file =
        ReadNode(&ListNodeData_FILEINFO::FromStream, Sized(block) + "trailing", &consumed);
    ASSERT_TRUE(file);
    EXPECT_EQ(consumed, long(4 + block.size()));
    EXPECT_EQ(Saved(*file), Sized(block));
}

// Each stored block here breaks one rule of its layout; none may be read.
TEST_F(FileRecordTest, BlocksThatDoNotHoldTogetherAreRefused)
{
    FileFields f;
    struct Case {
        const char* what;
        std::string block;
    };
    std::vector<Case> cases;
    cases.push_back({"version 4", Block(FileBlockV3(f).size()).Raw(0, FileBlockV3(f)).U32(0, 4).Str()});
    cases.push_back({"shorter than the header", std::string("\x03\0\0\0", 4)});
    cases.push_back({"shorter than the fixed part", Block(100).U32(0, 3).U32(4, 100).Str()});
    cases.push_back({"length field disagrees", Block(FileBlockV3(f).size()).Raw(0, FileBlockV3(f)).U32(4, 400).Str()});
    cases.push_back({"name past the block", Block(FileBlockV3(f).size()).Raw(0, FileBlockV3(f)).U32(132, 60).Str()});
    cases.push_back(
        {"huge name length", Block(FileBlockV3(f).size()).Raw(0, FileBlockV3(f)).U32(132, 0x7FFFFFFF).Str()});
    std::string noNul = FileBlockV3(f);
    noNul[144 + 2 * f.name.size()] = 'x';
    cases.push_back({"name without terminator", noNul});
    cases.push_back({"short name without terminator", Block(FileBlockV3(f).size())
                                                          .Raw(0, FileBlockV3(f))
                                                          .Chars(68, std::wstring(14, L'Q'))
                                                          .Str()});
    cases.push_back(
        {"version 2 name past the block", Block(FileBlockV2(f).size()).Raw(0, FileBlockV2(f)).U32(132, 90).Str()});
    cases.push_back(
        {"version 1 name past the block", Block(FileBlockV1(f).size()).Raw(0, FileBlockV1(f)).U32(116, 90).Str()});
    std::string v0 = FileBlockV0(f, std::wstring(L"D:P"));
    v0[v0.size() - 2] = 'y'; // the text's terminator
    cases.push_back({"version 0 text without terminator", v0});
    cases.push_back({"version 0 name without terminator",
                     Block(FileBlockV0(f, std::nullopt).size())
                         .Raw(0, FileBlockV0(f, std::nullopt))
                         .Chars(16 + 44, std::wstring(260, L'N'))
                         .Str()});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(c.block), nullptr);
        SortedLinkList_FILEINFO list;
        EXPECT_EQ(LoadBytes(list, U32(2) + FileEntry(FileBlockV3(f)) + FileEntry(c.block)), -1);
        EXPECT_EQ(list.Count(), 1);
    }
}

TEST_F(FileRecordTest, LoadStopsAtAVersion4Block)
{
    FileFields a, c;
    a.name = L"a";
    c.name = L"c";
    const std::string bad = Block(FileBlockV3(a).size()).Raw(0, FileBlockV3(a)).U32(0, 4).Str();
    SortedLinkList_FILEINFO list;
    EXPECT_EQ(LoadBytes(list, U32(3) + FileEntry(FileBlockV3(a)) + FileEntry(bad) + FileEntry(FileBlockV3(c))), -1);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_STREQ(list.FirstFile()->FileName(), L"a");
}

TEST_F(FileRecordTest, SortKeyOneOrdersBySizeAsSigned64BitValues)
{
    SortedLinkList_FILEINFO list;
    list.InsertHead(MadeFile(Entry(L"b-big", 1, 0x80000000u)).release()); // 2 GiB
    list.InsertHead(MadeFile(Entry(L"C-small", 1, 100)).release());
    list.InsertHead(MadeFile(Entry(L"a-huge", 1, 0, 1)).release()); // 4 GiB
    ASSERT_TRUE(list.Sort(SortedLinkList::kAscending, 1));
    EXPECT_STREQ(list.FirstFile()->FileName(), L"C-small");
    EXPECT_STREQ(list.NextFile()->FileName(), L"b-big");
    EXPECT_STREQ(list.NextFile()->FileName(), L"a-huge");
    ASSERT_TRUE(list.Sort(SortedLinkList::kAscending, 0));
    EXPECT_STREQ(list.FirstFile()->FileName(), L"a-huge");
    EXPECT_STREQ(list.NextFile()->FileName(), L"b-big");
    EXPECT_STREQ(list.NextFile()->FileName(), L"C-small");
}

TEST_F(FileRecordTest, LookupsByNameAndShortNameIgnoreLetterCase)
{
    SortedLinkList_FILEINFO list;
    for (int i = 0; i < 20; ++i) {
        WIN32_FIND_DATAW entry = Entry(L"File" + std::to_wstring(i) + L".txt", 1, std::uint32_t(i));
        _snwprintf(entry.cAlternateFileName, 13, L"FILE%d~1.TXT", i);
        list.InsertHead(MadeFile(entry).release());
    }
    ListNodeData_FILEINFO* found = list.FindFileByName(L"FILE7.TXT");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->FileName(), L"File7.txt");
    EXPECT_TRUE(list.HasSortedView()); // more than 12 records: a binary search
    EXPECT_EQ(list.FindFileByName(L"File7.tx"), nullptr);
    found = list.FindFileByShortName(L"file13~1.txt");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->FileName(), L"File13.txt");
    EXPECT_EQ(list.FindFileByShortName(L"NONE~1.TXT"), nullptr);
}

class FileTimeTest : public FileRecordTest {};

TEST_F(FileTimeTest, MillisecondsAreIgnored)
{
    const auto file = MadeFile(Entry(L"t", Utc(2020, 5, 6, 7, 8, 9, 10), 500));
    bool same = false;
    EXPECT_TRUE(file->MatchesFindData(Entry(L"t", Utc(2020, 5, 6, 7, 8, 9, 990), 500)));
    EXPECT_FALSE(file->IsOlderThan(Entry(L"t", Utc(2020, 5, 6, 7, 8, 9, 990), 500), same));
    EXPECT_TRUE(same);
    EXPECT_FALSE(file->MatchesFindData(Entry(L"t", Utc(2020, 5, 6, 7, 8, 10), 500)));
    EXPECT_FALSE(file->MatchesFindData(Entry(L"t", Utc(2020, 5, 6, 7, 8, 9), 501)));
}

TEST_F(FileTimeTest, IsOlderThanDecidesAtTheFirstDifferingField)
{
    const auto file = MadeFile(Entry(L"t", Utc(2020, 5, 6, 7, 8, 9), 1));
    bool same = true;
    EXPECT_TRUE(file->IsOlderThan(Entry(L"t", Utc(2020, 5, 6, 7, 8, 10), 1), same));
    EXPECT_FALSE(same);
    EXPECT_FALSE(file->IsOlderThan(Entry(L"t", Utc(2020, 5, 6, 7, 7, 59), 1), same));
    EXPECT_FALSE(same);
    // An earlier month outweighs a later day.
    EXPECT_FALSE(file->IsOlderThan(Entry(L"t", Utc(2020, 4, 30, 23, 59, 59), 1), same));
    EXPECT_TRUE(file->IsOlderThan(Entry(L"t", Utc(2021, 1, 1, 0, 0, 0), 1), same));
}

// 00:30 and 01:30 UTC on 25 October 2026 both read 02:30 on a Berlin clock (summer time ends
// in between): compared in local time they would match.
TEST_F(FileTimeTest, TimesAreComparedInUtcNotLocalTime)
{
    const auto file = MadeFile(Entry(L"t", Utc(2026, 10, 25, 0, 30, 0), 1));
    bool same = false;
    EXPECT_FALSE(file->MatchesFindData(Entry(L"t", Utc(2026, 10, 25, 1, 30, 0), 1)));
    EXPECT_TRUE(file->IsOlderThan(Entry(L"t", Utc(2026, 10, 25, 1, 30, 0), 1), same));
    EXPECT_FALSE(same);
}

TEST_F(FileTimeTest, SameAsComparesSizeContentIdAndTime)
{
    FileFields f;
    f.lastWrite = Utc(2019, 1, 2, 3, 4, 5, 100);
    f.sizeLow = 10;
    f.contentId = 0;
    FileFields g = f;
    g.lastWrite = Utc(2019, 1, 2, 3, 4, 5, 900);
    const auto a = Read(FileBlockV3(f));
    auto b = Read(FileBlockV3(g));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->SameAs(b.get(), false));

    g.contentId = 77;
    b = Read(FileBlockV3(g));
    EXPECT_FALSE(a->SameAs(b.get(), false));
    EXPECT_TRUE(a->SameAs(b.get(), true));
    EXPECT_TRUE(b->SameAs(a.get(), false)); // the other's id is 0: not compared

    g.contentId = 0;
    g.lastWrite = Utc(2019, 1, 2, 3, 4, 6);
    b = Read(FileBlockV3(g));
    EXPECT_FALSE(a->SameAs(b.get(), false));
    g.sizeLow = 11;
    g.lastWrite = f.lastWrite;
    b = Read(FileBlockV3(g));
    EXPECT_FALSE(a->SameAs(b.get(), false));

    FileFields zero = f;
    zero.sizeLow = 0;
    FileFields zeroLater = zero;
    zeroLater.lastWrite = Utc(2024, 1, 1, 0, 0, 0);
    EXPECT_TRUE(Read(FileBlockV3(zero))->SameAs(Read(FileBlockV3(zeroLater)).get(), false));
}

TEST_F(FileRecordTest, SizeInRoundsTowardZero)
{
    const auto file = MadeFile(Entry(L"s", 1, 1536));
    EXPECT_EQ(file->SizeIn(1024), 1);
    EXPECT_EQ(file->SizeIn(1), 1536);
    EXPECT_FALSE(file->IsEmpty());
    EXPECT_EQ(MadeFile(Entry(L"big", 1, 0, 3))->SizeIn(1024 * 1024), 3 * 4096);
    EXPECT_TRUE(MadeFile(Entry(L"e", 1, 0))->IsEmpty());
}

class FileSecurityTest : public FileRecordTest {};

TEST_F(FileSecurityTest, AdoptSecurityMovesTheWritersIdIntoTheSharedTable)
{
    SortedLinkList_STR writer;
    const std::int32_t writerId = writer.Intern(L"D:(A;;FA;;;WD)-adopt", true);
    FileFields f;
    f.securityId = writerId;
    auto file = Read(FileBlockV3(f));
    ASSERT_TRUE(file);
    // Before: the writer's id means nothing in the shared table.
    EXPECT_EQ(ListNodeData_FILEINFO::SecurityText(file->Record()), nullptr);
    EXPECT_TRUE(file->AdoptSecurity(&writer));
    EXPECT_STREQ(ListNodeData_FILEINFO::SecurityText(file->Record()), L"D:(A;;FA;;;WD)-adopt");
}

TEST_F(FileSecurityTest, AdoptSecurityKeepsUnknownIdsAndMapsReservedOnes)
{
    SortedLinkList_STR empty;
    FileFields f;
    f.securityId = 424242;
    auto file = Read(FileBlockV3(f));
    EXPECT_TRUE(file->AdoptSecurity(&empty));
    EXPECT_EQ(file->SecurityId(), 424242);

    SortedLinkList_STR writer;
    writer.Intern(L"something", true);
    EXPECT_FALSE(file->AdoptSecurity(&writer));
    EXPECT_EQ(file->SecurityId(), 424242);

    for (const auto& [stored, adopted] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{5, 1}, std::pair{999, 1}}) {
        f.securityId = stored;
        file = Read(FileBlockV3(f));
        EXPECT_TRUE(file->AdoptSecurity(&writer));
        EXPECT_EQ(file->SecurityId(), adopted) << stored;
    }
}

class FileTextTest : public FileRecordTest {};

TEST_F(FileTextTest, DumpShowsEveryLineWithLocalModificationTime)
{
    WIN32_FIND_DATAW entry = Entry(L"Dump Me.log", Utc(2016, 3, 7, 13, 5, 30), 1536);
    entry.dwFileAttributes = 0x2021;
    wcscpy(entry.cAlternateFileName, L"DUMPME~1.LOG");
    const auto file = MadeFile(entry, L"O:BAG:BA-dump", 5);
    EXPECT_EQ(Dump(*file), "File        : Dump Me.log\n"
                           "State       : FLAGSCHANGED\n"
                           "SD          : O:BAG:BA-dump\n"
                           "Short Name  : DUMPME~1.LOG\n"
                           "Attributes  : 0X2021\n"
                           "Mod    Date : 03/07/2016  14:05\n"
                           "File Size   : 1.500000 KB\n"
                           "\n");
}

TEST_F(FileTextTest, StatesOutsideTheNamedOnesPrintAPlaceholder)
{
    const auto file = MadeFile(Entry(L"odd", 1, 0), nullptr, 9);
    const std::string dump = Dump(*file);
    EXPECT_NE(dump.find("State       : UNKNOWN(9)\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SD          : \n"), std::string::npos) << dump;
    EXPECT_EQ(ListNodeData_FILEINFO::StateName(6), L"INVALID");
    EXPECT_EQ(ListNodeData_FILEINFO::StateName(-1), L"UNKNOWN(-1)");
}

TEST_F(FileTextTest, LogLineNamesTheFileStateAndSecurityText)
{
    kvotest::LogCapture log;
    MadeFile(Entry(L"logged.txt", 1, 0), nullptr, 3)->LogLine();
    MadeFile(Entry(L"secured.txt", 1, 0), L"D:(A;;GA;;;SY)-log", 0)->LogLine();
    EXPECT_EQ(log.CountContaining(L"Name:logged.txt,State:REMOVED,SD:N/A"), 1);
    EXPECT_EQ(log.CountContaining(L"Name:secured.txt,State:IGNORED,SD:D:(A;;GA;;;SY)-log"), 1);
}

TEST_F(FileTextTest, NegativeSecurityIdIsReportedAndShownAsNoText)
{
    FileFields f;
    f.name = L"broken-sd.txt";
    f.securityId = -5;
    const auto file = Read(FileBlockV3(f));
    ASSERT_TRUE(file);
    kvotest::LogCapture log;
    file->LogLine();
    EXPECT_EQ(log.CountContaining(L"Invalid SD Length in the FileInfo Object for broken-sd.txt"), 1);
    EXPECT_EQ(log.CountContaining(L"Name:broken-sd.txt,State:NEW,SD:N/A"), 1);
    EXPECT_NE(Dump(*file).find("SD          : \n"), std::string::npos);
}

} // namespace
