#include "ListNodeData_GROUPINFO.h"
#include "RecordTestSeams.h"
#include "RecordTestSupport.h"
#include "RegRecordBytes.h"
#include "RegTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

using namespace Tallis::ImageUpdate;
using regtest::GroupEntry;
using regtest::GroupRecord;
using regtest::Sid;
using regtest::U32;

namespace {

class GroupInfoRecord : public regtest::RecordFixture {
protected:
    std::unique_ptr<ListNodeData_GROUPINFO> Read(const std::string& record, long* consumed = nullptr)
    {
        return ReadSized(U32(std::uint32_t(record.size())) + record, consumed);
    }
    std::unique_ptr<ListNodeData_GROUPINFO> ReadSized(const std::string& bytes, long* consumed = nullptr)
    {
        auto node = ReadNode(&ListNodeData_GROUPINFO::FromStream, bytes, consumed);
        return std::unique_ptr<ListNodeData_GROUPINFO>(static_cast<ListNodeData_GROUPINFO*>(node.release()));
    }
    void TearDown() override { SetGroupAllocatorForTest(nullptr); }

    // 16 and 28 bytes.
    const std::string sid16 = Sid(5, {32, 544});
    const std::string sid28 = Sid(5, {21, 1, 2, 3, 500});
};

TEST_F(GroupInfoRecord, ConstructorBuildsTheDocumentedRecord)
{
    ASSERT_EQ(sid16.size(), 16u);
    ASSERT_EQ(sid28.size(), 28u);
    const PSID members[] = {const_cast<char*>(sid16.data()), const_cast<char*>(sid28.data())};
    ListNodeData_GROUPINFO group(L"Administrators", L"A", 2, members);
    EXPECT_EQ(group.RecordSize(), 102u);
    EXPECT_EQ(group.DataSize(), 102);
    const std::string expected = GroupRecord(L"Administrators", std::wstring(L"A"), {sid16, sid28});
    ASSERT_EQ(expected.size(), 102u);
    EXPECT_EQ(Saved(group), U32(102) + expected);
    // Name, comment and members point into the node's own record.
    EXPECT_STREQ(group.Name(), L"Administrators");
    EXPECT_STREQ(group.Comment(), L"A");
    ASSERT_NE(group.MemberSid(1), nullptr);
    EXPECT_NE(group.MemberSid(1), members[1]);
    EXPECT_TRUE(EqualSid(group.MemberSid(1), members[1]));
    EXPECT_EQ(group.MemberSid(2), nullptr);
}

TEST_F(GroupInfoRecord, ReadsBackWhatItSaves)
{
    const std::string record = GroupRecord(L"Administrators", std::wstring(L"A"), {sid16, sid28});
    long consumed = 0;
    auto group = Read(record, &consumed);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(consumed, long(4 + record.size()));
    EXPECT_EQ(group->MemberCount(), 2u);
    EXPECT_EQ(Saved(*group), U32(102) + record);
}

TEST_F(GroupInfoRecord, GroupWithoutCommentDumpsNoCommentLineAndLogsADash)
{
    ListNodeData_GROUPINFO group(L"Users", nullptr, 0, nullptr);
    EXPECT_EQ(group.Comment(), nullptr);
    EXPECT_EQ(Dump(group), "[Users]\nMember count : 0\n");
    EXPECT_EQ(group.RecordSize(), 16u + 2 * 6);
    EXPECT_EQ(Saved(group), U32(28) + GroupRecord(L"Users", std::nullopt, {}));
    kvotest::LogCapture log;
    group.LogLine();
    EXPECT_EQ(log.CountContaining(L"Group name:Users, Comments:-, MemberCount: 0"), 1);
}

TEST_F(GroupInfoRecord, SortsByNameCaseInsensitively)
{
    SortedLinkList list;
    ASSERT_EQ(LoadBytes(list, regtest::ListStream({GroupEntry(L"users", std::nullopt, {}),
                                                   GroupEntry(L"Admins", std::nullopt, {sid16}),
                                                   GroupEntry(L"Guests", std::wstring(L"g"), {})})),
              0);
    std::vector<std::wstring> names;
    for (ListNodeData* node = list.First(); node; node = list.Next())
        names.push_back(static_cast<ListNodeData_GROUPINFO*>(node)->Name());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Admins", L"Guests", L"users"}));
}

TEST_F(GroupInfoRecord, VersionIsNotTested)
{
    auto group = Read(GroupRecord(L"G", std::nullopt, {sid16}, 7));
    ASSERT_NE(group, nullptr);
    EXPECT_STREQ(group->Name(), L"G");
}

TEST_F(GroupInfoRecord, AllocationFailuresRaiseTheirTexts)
{
    const PSID members[] = {const_cast<char*>(sid16.data())};
    SetGroupAllocatorForTest([](std::size_t) -> void* { return nullptr; });
    try {
        ListNodeData_GROUPINFO group(L"G", nullptr, 1, members);
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Failed to allocate memory for SID list!");
    }
    // The first allocation (the SID list) succeeds, the record fails.
    static int calls;
    calls = 0;
    SetGroupAllocatorForTest([](std::size_t bytes) -> void* {
        return ++calls == 1 ? std::malloc(bytes) : nullptr;
    });
    try {
        ListNodeData_GROUPINFO group(L"G", nullptr, 1, members);
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Failed to allocate memory for group info!");
    }
    EXPECT_EQ(calls, 2);
}

TEST_F(GroupInfoRecord, ReaderReturnsNoneWhenTheConstructorRunsOutOfMemory)
{
    SetGroupAllocatorForTest([](std::size_t) -> void* { return nullptr; });
    std::unique_ptr<ListNodeData_GROUPINFO> node;
    EXPECT_NO_THROW(node = Read(GroupRecord(L"G", std::nullopt, {})));
    EXPECT_EQ(node, nullptr);
}

TEST_F(GroupInfoRecord, RecordsThatDoNotHoldTogetherAreRejected)
{
    const std::string good = GroupRecord(L"Group", std::wstring(L"Note"), {sid16});
    ASSERT_NE(Read(good), nullptr);
    const auto patched = [&](size_t offset, const std::string& bytes) {
        std::string record = good;
        record.replace(offset, bytes.size(), bytes);
        return record;
    };
    const std::string size = U32(std::uint32_t(good.size()));
    // Name at 0x10 (12 bytes), comment at 0x1C (10 bytes), member length at 0x26, SID at 0x2A.
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"name longer than the record allows", size + patched(4, U32(200))},
        {"name without terminator", size + patched(0x10 + 10, std::string("X\0", 2))},
        {"empty name length", size + patched(4, U32(0))},
        {"comment without terminator", size + patched(0x1C + 8, std::string("Y\0", 2))},
        {"comment past the record", size + patched(8, U32(100))},
        {"member SID past the record", size + patched(0x26, U32(60))},
        {"more members than fit", size + patched(0x0C, U32(0x40000000))},
        {"member shorter than a SID", U32(std::uint32_t(good.size() - 12)) +
                                          patched(0x26, U32(4)).substr(0, good.size() - 12)},
        {"size larger than the contents", U32(std::uint32_t(good.size() + 4)) + good + "pad!"},
        {"size smaller than the contents", U32(std::uint32_t(good.size() - 1)) + good},
        {"cut short", size + good.substr(0, good.size() - 1)},
        {"header cut short", size + good.substr(0, 10)},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(ReadSized(bytes), nullptr) << what;
        SortedLinkList list;
        EXPECT_EQ(LoadBytes(list, U32(1) + U32(12) + bytes), -1) << what;
        EXPECT_EQ(list.Count(), 0) << what;
    }
}

// A member's stored length and the length its SID claims used to be trusted separately: the
// record was built with GetLengthSid bytes copied from a shorter buffer.
TEST_F(GroupInfoRecord, MemberMustBeOneValidSidOfItsStoredLength)
{
    std::string claimsMore = sid16.substr(0, 12); // says 2 sub-authorities, holds 1
    std::string claimsLess = sid28;
    claimsLess[1] = 2; // 16 bytes by its count, 28 stored
    std::string badRevision = sid16;
    badRevision[0] = 2;
    for (const std::string& member : {claimsMore, claimsLess, badRevision}) {
        EXPECT_EQ(Read(GroupRecord(L"G", std::nullopt, {member})), nullptr) << member.size();
    }
    EXPECT_NE(Read(GroupRecord(L"G", std::nullopt, {Sid(1, {})})), nullptr);
}

} // namespace
