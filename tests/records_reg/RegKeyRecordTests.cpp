#include "FiveReaders.h"
#include "ListNodeData_FILEIDMAP.h"
#include "ListNodeData_REGKEYINFO.h"
#include "ListNodeData_REGVALUE.h"
#include "RecordTestSupport.h"
#include "RegRecordBytes.h"
#include "RegTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace Tallis::ImageUpdate;
using regtest::KeyEntry;
using regtest::ListStream;
using regtest::U32;
using regtest::Value;

namespace {

class RegKeyRecord : public regtest::RecordFixture {
protected:
    // Reads one key entry (type code already stripped).
    std::unique_ptr<ListNodeData_REGKEYINFO> Read(const std::string& entry, long* consumed = nullptr)
    {
        auto node = ReadNode(&ListNodeData_REGKEYINFO::FromStream, entry.substr(4), consumed);
        return std::unique_ptr<ListNodeData_REGKEYINFO>(static_cast<ListNodeData_REGKEYINFO*>(node.release()));
    }

    std::vector<std::wstring> Paths(SortedLinkList& list)
    {
        std::vector<std::wstring> paths;
        for (ListNodeData* node = list.First(); node; node = list.Next())
            paths.push_back(static_cast<ListNodeData_REGKEYINFO*>(node)->Path());
        return paths;
    }
};

TEST_F(RegKeyRecord, SubkeysSortBeforeTheirKeyInReversePathOrder)
{
    SortedLinkList list;
    ASSERT_EQ(LoadBytes(list, ListStream({KeyEntry(L"\\Software\\A", {}), KeyEntry(L"\\Software\\B", {}),
                                          KeyEntry(L"\\Software\\A\\B", {})})),
              0);
    EXPECT_EQ(Paths(list), (std::vector<std::wstring>{L"\\Software\\B", L"\\Software\\A\\B", L"\\Software\\A"}));
}

TEST_F(RegKeyRecord, PathsDifferingInCaseCompareEqual)
{
    auto upper = Read(KeyEntry(L"\\SOFTWARE\\Vendor", {}));
    auto lower = Read(KeyEntry(L"\\software\\vendor", {}));
    auto later = Read(KeyEntry(L"\\software\\zeta", {}));
    ASSERT_TRUE(upper && lower && later);
    EXPECT_EQ(upper->Compare(lower.get()), 0);
    EXPECT_EQ(upper->Compare(later.get()), 1);
    EXPECT_EQ(later->Compare(upper.get()), -1);
}

TEST_F(RegKeyRecord, LayoutReadsAndSavesByteForByteWithItsValues)
{
    const std::string entry = KeyEntry(L"\\Software\\Vendor", {Value{L"b", 4, U32(1)}, Value{L"a", 3, "xyz"}}, 2, -4);
    // Record: 0x20 fixed bytes and the path with its NUL.
    ASSERT_EQ(entry.substr(4, 4), U32(0x20 + 2 * 17));
    long consumed = 0;
    auto key = Read(entry, &consumed);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(consumed, long(entry.size() - 4));
    EXPECT_STREQ(key->Path(), L"\\Software\\Vendor");
    EXPECT_EQ(key->State(), 2u);
    ASSERT_NE(key->Values(), nullptr);
    EXPECT_EQ(key->Values()->Count(), 2);
    // The value-list slot is written back as it was stored; the values come back sorted by name.
    const std::string saved = Saved(*key);
    EXPECT_EQ(saved.substr(0, 4 + 0x42), entry.substr(4, 4 + 0x42));
    EXPECT_EQ(saved.substr(4 + 0x42), U32(2) + regtest::ValueEntry(Value{L"a", 3, "xyz"}) +
                                          regtest::ValueEntry(Value{L"b", 4, U32(1)}));
}

TEST_F(RegKeyRecord, DataSizeAddsTheValueRecordSizes)
{
    auto key = Read(KeyEntry(L"\\K", {Value{L"v", 4, U32(1)}, Value{L"w", 3, "abc"}}));
    ASSERT_NE(key, nullptr);
    const std::int64_t expected = (0x20 + 6) + (0x2C + 4 + 4) + (0x2C + 4 + 4);
    EXPECT_EQ(key->DataSize64(), expected);
    EXPECT_EQ(key->DataSize(), std::int32_t(expected));
}

TEST_F(RegKeyRecord, DumpShowsTheKeyThenEveryValue)
{
    auto key = Read(KeyEntry(L"\\Software\\Vendor", {Value{L"Start", 4, U32(1), 1, 2}}, 4, -1));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(Dump(*key), "[\\Software\\Vendor]\n"
                          "State     : CREATE\n"
                          "Action-Conflict    : -1\n"
                          "\n\n"
                          "Value Name  : Start\n"
                          "State       : NEW\n"
                          "Action-Conflict      : 2\n"
                          "Data Size            : 4\n"
                          "Data Type            : 4\n"
                          "Data Bytes            : 01 00 00 00 \n"
                          "Data Bytes Prev (MD5): 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n"
                          "\n");
}

TEST_F(RegKeyRecord, UnknownStateShowsInDumpAndNumberInLogLine)
{
    auto key = Read(KeyEntry(L"\\K7", {Value{L"v", 4, U32(1), 9}}, 7));
    ASSERT_NE(key, nullptr);
    EXPECT_NE(Dump(*key).find("State     : UNKNOWN\n"), std::string::npos);
    kvotest::LogCapture log;
    key->LogLine();
    EXPECT_EQ(log.CountContaining(L"KEY >> \\K7, State:7"), 1);
    EXPECT_EQ(log.CountContaining(L"Registry Value Name : v, Type : 4, Size : 4, State : UNKNOWN"), 1);
}

TEST_F(RegKeyRecord, FindValueWalksTheValuesCaseInsensitively)
{
    auto key = Read(KeyEntry(L"\\K", {Value{L"Zeta"}, Value{L""}, Value{L"alpha"}}));
    ASSERT_NE(key, nullptr);
    ListNodeData_REGVALUE* found = key->FindValue(L"ALPHA");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->GetValueName(), L"alpha");
    ListNodeData_REGVALUE* unnamed = key->FindValue(L"");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_STREQ(unnamed->GetValueName(), L"");
    EXPECT_EQ(key->FindValue(L"missing"), nullptr);

    std::vector<std::wstring> names;
    for (ListNodeData_REGVALUE* value = key->FirstValue(); value; value = key->NextValue())
        names.push_back(value->GetValueName());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"", L"alpha", L"Zeta"}));
}

TEST_F(RegKeyRecord, ValueWalkStopsAtARecordThatIsNoValue)
{
    // A file-id map inside a value list sorts after the values (type code 11 > 5).
    const std::string entry = regtest::U32(4) + U32(0x20 + 6) + regtest::KeyRecord(L"\\K") + U32(2) +
                              regtest::ValueEntry(Value{L"v"}) + regtest::FileIdEntry(1, 2, 3);
    auto key = Read(entry);
    ASSERT_NE(key, nullptr);
    ASSERT_NE(key->FirstValue(), nullptr);
    EXPECT_EQ(key->NextValue(), nullptr);
    EXPECT_EQ(key->FindValue(L"nothing"), nullptr);
}

TEST_F(RegKeyRecord, KeyWithoutValuesSavesCountZero)
{
    const std::string entry = KeyEntry(L"\\Empty", {});
    auto key = Read(entry);
    ASSERT_NE(key, nullptr);
    ASSERT_NE(key->Values(), nullptr);
    EXPECT_EQ(key->Values()->Count(), 0);
    EXPECT_EQ(key->FirstValue(), nullptr);
    EXPECT_EQ(Saved(*key), entry.substr(4));
}

TEST_F(RegKeyRecord, Version3IsRefusedBeforeItsValueList)
{
    const std::string record = regtest::KeyRecord(L"\\Old", 1, 0, 0, 3);
    const std::string bytes = U32(std::uint32_t(record.size())) + record + U32(1) + regtest::ValueEntry(Value{L"v"});
    long consumed = 0;
    EXPECT_EQ(ReadNode(&ListNodeData_REGKEYINFO::FromStream, bytes, &consumed), nullptr);
    EXPECT_EQ(consumed, long(4 + record.size()));
}

TEST_F(RegKeyRecord, MalformedRecordsAreRejected)
{
    const std::string good = regtest::KeyRecord(L"\\Software");
    std::string unterminated = good;
    unterminated.replace(unterminated.size() - 2, 2, "X\0", 2);
    std::string wrongSize = good;
    wrongSize.replace(4, 4, U32(std::uint32_t(good.size() + 4)));
    std::string tiny = good.substr(0, 0x20);
    tiny.replace(4, 4, U32(0x20));
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"size field differs", wrongSize},
        {"no room for a path", tiny},
        {"path without terminator", unterminated},
    };
    for (const auto& [what, record] : cases) {
        const std::string entry = U32(4) + U32(std::uint32_t(record.size())) + record + U32(0);
        EXPECT_EQ(Read(entry), nullptr) << what;
        SortedLinkList list;
        EXPECT_EQ(LoadBytes(list, U32(1) + entry), -1) << what;
    }
}

// A cut value list used to be read as if whole: the key came back and the outer list
// reported success although records were missing.
TEST_F(RegKeyRecord, CutValueListFailsTheKeyAndTheOuterLoad)
{
    const std::string record = regtest::KeyRecord(L"\\Cut");
    const std::string entry = U32(4) + U32(std::uint32_t(record.size())) + record + U32(3) +
                              regtest::ValueEntry(Value{L"only"});
    EXPECT_EQ(Read(entry), nullptr);
    SortedLinkList list;
    EXPECT_EQ(LoadBytes(list, ListStream({entry})), -1);
    EXPECT_EQ(list.Count(), 0);
}

// A value list that stops at a record it cannot read must not leave the rest of its records to
// the outer list, which would read them as top-level records.
TEST_F(RegKeyRecord, BrokenValueListDoesNotLeakValuesToTheOuterList)
{
    const std::string record = regtest::KeyRecord(L"\\Broken");
    const std::string entry = U32(4) + U32(std::uint32_t(record.size())) + record + U32(3) +
                              regtest::ValueEntry(Value{L"one"}) + U32(7) /* no reader */ +
                              regtest::ValueEntry(Value{L"two"});
    SortedLinkList list;
    EXPECT_EQ(LoadBytes(list, ListStream(2, {entry, regtest::ValueEntry(Value{L"three"})})), -1);
    for (ListNodeData* node = list.First(); node; node = list.Next())
        EXPECT_NE(node->TypeCode(), ListNodeData_REGVALUE::kTypeCode);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(RegKeyRecord, ModestNestingIsReadButDeepNestingIsRefusedWithoutCrashing)
{
    // A key inside a key's value list is odd but readable.
    const std::string inner = KeyEntry(L"\\Inner", {Value{L"v"}});
    const std::string outerRecord = regtest::KeyRecord(L"\\Outer");
    const std::string nested = U32(4) + U32(std::uint32_t(outerRecord.size())) + outerRecord + U32(1) + inner;
    SortedLinkList shallow;
    EXPECT_EQ(LoadBytes(shallow, ListStream({nested})), 0);

    // 50000 keys, each the only entry of the previous one's value list.
    const std::string record = regtest::KeyRecord(L"\\D");
    const std::string head = U32(4) + U32(std::uint32_t(record.size())) + record + U32(1);
    std::string deep = U32(1);
    deep.reserve(head.size() * 50001 + 8);
    for (int i = 0; i < 50000; ++i)
        deep += head;
    deep += KeyEntry(L"\\Bottom", {});
    SortedLinkList list;
    EXPECT_EQ(LoadBytes(list, deep), -1);
    EXPECT_EQ(list.Count(), 0);
}

// Keys of a registry snapshot with up to 250 values each, an unnamed value among them.
class RegKeyReaders : public regtest::RecordFixture {
protected:
    void SetUp() override
    {
        std::vector<std::string> entries;
        for (int k = 0; k < 8; ++k) {
            std::vector<Value> values{Value{L"", 1, regtest::Utf16(L"default")}};
            for (int v = 0; v < 40 + 30 * k; ++v)
                values.push_back(Value{L"Setting" + std::to_wstring(1000 + v), 4, U32(std::uint32_t(v))});
            entries.push_back(KeyEntry(L"\\Software\\Korvane\\Layer" + std::to_wstring(k), values));
        }
        ASSERT_EQ(LoadBytes(list, ListStream(entries)), 0);
        std::vector<std::pair<ListNodeData_REGKEYINFO*, std::wstring>> absent;
        for (ListNodeData* node = list.First(); node; node = list.Next()) {
            auto* key = static_cast<ListNodeData_REGKEYINFO*>(node);
            const int count = key->Values()->Count();
            for (int v = 0; v < count; v += 7)
                queries.emplace_back(key, v ? L"setting" + std::to_wstring(999 + v) : L"");
            absent.emplace_back(key, L"Setting" + std::to_wstring(1000 + count));
            absent.emplace_back(key, L"Layer");
        }
        present = queries.size();
        queries.insert(queries.end(), absent.begin(), absent.end());
    }

    SortedLinkList list;
    std::vector<std::pair<ListNodeData_REGKEYINFO*, std::wstring>> queries;
    std::size_t present = 0;
};

TEST_F(RegKeyReaders, FindValueAndTheListSearches)
{
    kvotest::ExpectFiveReadersAgree<ListNodeData_REGVALUE*>(list.Lock(), present, queries.size(), [&](std::size_t q) {
        const auto& [key, name] = queries[q];
        ListNodeData_REGVALUE* found = key->FindValue(name.c_str());
        const bool agree = found && key->Values()->FindByName(name.c_str()) == found && list.Find(key) == key;
        return agree ? found : nullptr;
    }, 20);
}

TEST_F(RegKeyReaders, DumpsAndSizes)
{
    kvotest::ExpectFiveReadersAgree<std::string>(list.Lock(), 2, 2, [&](std::size_t q) -> std::string {
        if (q == 1) {
            std::string sizes = std::to_string(list.DataSize());
            for (const auto& [key, name] : queries)
                sizes += " " + std::to_string(key->DataSize64());
            return sizes;
        }
        const std::wstring path = scratch / (L"dump" + std::to_wstring(GetCurrentThreadId()));
        return list.WriteTextFile(path.c_str()) > 0 ? kvotest::ReadFileBytes(path) : "";
    }, 4);
}

} // namespace
