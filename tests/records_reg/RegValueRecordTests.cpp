#include "ListNodeData_REGVALUE.h"
#include "RecordTestSeams.h"
#include "RecordTestSupport.h"
#include "RegRecordBytes.h"
#include "RegTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Tallis::ImageUpdate;
using regtest::U32;
using regtest::Value;

namespace {

class RegValueRecord : public regtest::RecordFixture {
protected:
    std::unique_ptr<ListNodeData_REGVALUE> Read(const std::string& record)
    {
        auto node = ReadNode(&ListNodeData_REGVALUE::FromStream, U32(std::uint32_t(record.size())) + record);
        return std::unique_ptr<ListNodeData_REGVALUE>(static_cast<ListNodeData_REGVALUE*>(node.release()));
    }
    std::unique_ptr<ListNodeData_REGVALUE> Read(const Value& value) { return Read(regtest::ValueRecord(value)); }

    // Overwrites 4 bytes of a record at offset.
    static std::string Patch(std::string record, size_t offset, std::uint32_t value)
    {
        const std::string bytes = U32(value);
        record.replace(offset, 4, bytes);
        return record;
    }

    static const std::string kDigest;
};

const std::string RegValueRecord::kDigest("\x10\x32\x54\x76\x98\xBA\xDC\xFE\x01\x23\x45\x67\x89\xAB\xCD\xEF", 16);

TEST_F(RegValueRecord, OddDataSizeGetsAFillerByteAndTheNameStartsAt0x30)
{
    Value value{L"Three", 3, std::string("\xAA\xBB\xCC", 3)};
    const std::string record = regtest::ValueRecord(value);
    ASSERT_EQ(record.size(), 0x30u + 12u);
    EXPECT_EQ(record[0x2F], '\0');

    kvotest::LogCapture log;
    auto node = Read(record);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->DataSize(), 0x3C);
    EXPECT_EQ(node->GetValueName(), reinterpret_cast<const wchar_t*>(node->Record() + 0x30));
    EXPECT_STREQ(node->GetValueName(), L"Three");
    EXPECT_EQ(log.CountContaining(L"Unaligned"), 0);
    // The block is saved byte for byte behind its length word.
    EXPECT_EQ(Saved(*node), U32(0x3C) + record);
}

TEST_F(RegValueRecord, NameAtAnOddAddressIsServedFromALoggedAlignedCopy)
{
    kvotest::LogCapture log;
    SetValueRecordOffsetForTest(1);
    auto node = Read(Value{L"Shifted", 4, U32(7)});
    SetValueRecordOffsetForTest(0);
    ASSERT_NE(node, nullptr);
    const wchar_t* inPlace = reinterpret_cast<const wchar_t*>(node->Record() + 0x30);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(inPlace) % 2, 1u);

    const wchar_t* name = node->GetValueName();
    EXPECT_NE(name, inPlace);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(name) % 2, 0u);
    EXPECT_STREQ(name, L"Shifted");
    // The reader already asked once (for the node name); later calls reuse the copy.
    EXPECT_EQ(node->GetValueName(), name);
    EXPECT_EQ(log.CountContaining(L"Unaligned value name buffer!!!!"), 1);
    EXPECT_EQ(log.CountContaining(L"[ERROR]"), 1);
    EXPECT_EQ(node->CompareName(L"shifted"), 0);
}

TEST_F(RegValueRecord, DwordDumpsItsBytesInStoredOrder)
{
    auto node = Read(Value{L"Start", 4, U32(1), 2, -3, kDigest});
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Dump(*node), "Value Name  : Start\n"
                           "State       : CHANGED\n"
                           "Action-Conflict      : -3\n"
                           "Data Size            : 4\n"
                           "Data Type            : 4\n"
                           "Data Bytes            : 01 00 00 00 \n"
                           "Data Bytes Prev (MD5): 10 32 54 76 98 BA DC FE 01 23 45 67 89 AB CD EF \n"
                           "\n");
}

TEST_F(RegValueRecord, BinaryDataShowsAtMostSixteenBytes)
{
    std::string data;
    for (int i = 0; i < 20; ++i)
        data.push_back(char(0xE0 + i));
    auto node = Read(Value{L"Bin", 3, data});
    ASSERT_NE(node, nullptr);
    EXPECT_NE(Dump(*node).find("Data Bytes            : E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF \n"),
              std::string::npos)
        << Dump(*node);
}

TEST_F(RegValueRecord, NoDataDumpsAnEmptyText)
{
    auto node = Read(Value{L"None", 0, ""});
    ASSERT_NE(node, nullptr);
    EXPECT_NE(Dump(*node).find("Data Size            : 0\nData Type            : 0\nData Bytes            : \n"),
              std::string::npos);
}

TEST_F(RegValueRecord, StringDataShowsTheFirst120Characters)
{
    std::wstring text;
    for (int i = 0; i < 200; ++i)
        text.push_back(wchar_t(L'a' + i % 26));
    auto node = Read(Value{L"Long", 1, regtest::Utf16(text)});
    ASSERT_NE(node, nullptr);
    const std::string expected = "Data Bytes            : " + kvotest::Narrow(text.substr(0, 120)) + "\n";
    EXPECT_NE(Dump(*node).find(expected), std::string::npos) << Dump(*node);
}

TEST_F(RegValueRecord, UnknownStateInDumpAndLogLine)
{
    auto node = Read(Value{L"Odd", 4, U32(5), 9});
    ASSERT_NE(node, nullptr);
    EXPECT_NE(Dump(*node).find("State       : UNKNOWN\n"), std::string::npos);
    kvotest::LogCapture log;
    node->LogLine();
    EXPECT_EQ(log.CountContaining(L"Registry Value Name : Odd, Type : 4, Size : 4, State : UNKNOWN"), 1);
    auto removed = Read(Value{L"Gone", 1, regtest::Utf16(L"x"), 3});
    ASSERT_NE(removed, nullptr);
    removed->LogLine();
    EXPECT_EQ(log.CountContaining(L"Registry Value Name : Gone, Type : 1, Size : 4, State : REMOVED"), 1);
}

TEST_F(RegValueRecord, SameDataComparesTypeSizeAndBytesOnly)
{
    auto a = Read(Value{L"A", 4, U32(1), 1, 0, kDigest});
    auto b = Read(Value{L"B", 4, U32(1), 3, 9, std::string(16, '\x55')});
    auto otherType = Read(Value{L"A", 3, U32(1)});
    auto otherBytes = Read(Value{L"A", 4, U32(2)});
    auto emptyA = Read(Value{L"E", 3, ""});
    auto emptyB = Read(Value{L"F", 3, ""});
    ASSERT_TRUE(a && b && otherType && otherBytes && emptyA && emptyB);
    EXPECT_TRUE(a->SameData(b.get()));
    EXPECT_FALSE(a->SameData(otherType.get()));
    EXPECT_FALSE(a->SameData(otherBytes.get()));
    EXPECT_TRUE(emptyA->SameData(emptyB.get()));
    EXPECT_FALSE(emptyA->SameData(a.get()));
}

TEST_F(RegValueRecord, ValuesSortByNameCaseInsensitivelyAndAreFoundByName)
{
    SortedLinkList list;
    ASSERT_EQ(LoadBytes(list, regtest::ListStream({regtest::ValueEntry({L"gamma"}), regtest::ValueEntry({L"Alpha"}),
                                                   regtest::ValueEntry({L"beta"})})),
              0);
    std::vector<std::wstring> names;
    for (ListNodeData* node = list.First(); node; node = list.Next())
        names.push_back(static_cast<ListNodeData_REGVALUE*>(node)->GetValueName());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));
    auto* beta = static_cast<ListNodeData_REGVALUE*>(list.FindByName(L"BETA"));
    ASSERT_NE(beta, nullptr);
    EXPECT_STREQ(beta->GetValueName(), L"beta");
}

TEST_F(RegValueRecord, MalformedRecordsAreRejected)
{
    const std::string good = regtest::ValueRecord(Value{L"Name", 3, std::string("\x01\x02\x03", 3)});
    ASSERT_NE(Read(good), nullptr);
    struct Case {
        const char* what;
        std::string bytes; // length word and block
    };
    const auto withLength = [](const std::string& record) { return U32(std::uint32_t(record.size())) + record; };
    std::string unterminated = good;
    unterminated.replace(unterminated.size() - 2, 2, "X\0", 2);
    const std::vector<Case> cases = {
        {"version 1", withLength(Patch(good, 0, 1))},
        {"size field larger than the block", withLength(Patch(good, 4, std::uint32_t(good.size() + 2)))},
        {"size field smaller than the block", withLength(Patch(good, 4, std::uint32_t(good.size() - 2)))},
        {"shorter than the fixed part", withLength(Patch(good.substr(0, 0x28), 4, 0x28))},
        {"data runs past the block", withLength(Patch(good, 0x28, 0x40))},
        {"data size wraps", withLength(Patch(good, 0x28, 0xFFFFFFFFu))},
        {"name without terminator", withLength(unterminated)},
        {"no room for the name", withLength(Patch(Patch(good, 0x28, 0x0E), 0x04, std::uint32_t(good.size())))},
        {"block cut short", U32(std::uint32_t(good.size())) + good.substr(0, good.size() - 1)},
        {"huge length", U32(0xFFFFFFF0u) + good},
        {"no length", std::string("\x10", 1)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadNode(&ListNodeData_REGVALUE::FromStream, c.bytes), nullptr) << c.what;
        SortedLinkList list;
        EXPECT_EQ(LoadBytes(list, U32(1) + U32(5) + c.bytes), -1) << c.what;
        EXPECT_EQ(list.Count(), 0) << c.what;
    }
}

} // namespace
