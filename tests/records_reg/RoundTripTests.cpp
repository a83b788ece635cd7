#include "ListNodeData_FILEIDMAP.h"
#include "ListNodeData_GROUPINFO.h"
#include "ListNodeData_REGKEYINFO.h"
#include "ListNodeData_REGVALUE.h"
#include "ListNodeData_STR.h"
#include "RecordTestSupport.h"
#include "RegRecordBytes.h"
#include "RegTestSupport.h"
#include "StreamMutation.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace Tallis::ImageUpdate;

namespace {

class MixedList : public regtest::RecordFixture {};

TEST_F(MixedList, EveryRecordTypeSavesAndLoadsBackWithIdenticalDumps)
{
    SortedLinkList first;
    ASSERT_EQ(LoadBytes(first, regtest::EveryTypeStream()), 0);
    ASSERT_EQ(first.Count(), 9);

    // Records of different types are ordered by type code, each type by its own order.
    std::vector<std::int32_t> codes;
    for (ListNodeData* node = first.First(); node; node = first.Next())
        codes.push_back(node->TypeCode());
    EXPECT_EQ(codes, (std::vector<std::int32_t>{1, 1, 4, 4, 4, 11, 11, 12, 12}));

    const std::string dump = DumpList(first);
    const std::string saved = SavedList(first);
    SortedLinkList second;
    ASSERT_EQ(LoadBytes(second, saved), 0);
    EXPECT_EQ(DumpList(second), dump);
    EXPECT_EQ(SavedList(second), saved);
    EXPECT_EQ(second.DataSize(), first.DataSize());

    // Spot checks that the dump holds what the stream held.
    EXPECT_NE(dump.find("[\\Registry\\Machine\\Software\\Vendor\\Sub]\nState     : UNKNOWN\n"), std::string::npos);
    EXPECT_NE(dump.find("Value Name  : ImagePath\n"), std::string::npos);
    EXPECT_NE(dump.find("Data Bytes            : %SystemRoot%\\x.sys\n"), std::string::npos);
    EXPECT_NE(dump.find("FileID of Sentinel File:   7FFFFFFFFFFFFFFF\n"), std::string::npos);
    EXPECT_NE(dump.find("FileID of Sentinel File:   FFFFFFFFFFFFFFFF\n"), std::string::npos);
    EXPECT_NE(dump.find("[Administrators]\nComment      : Full control\nMember count : 2\n"), std::string::npos);
    EXPECT_NE(dump.find("[Guests]\nMember count : 0\n"), std::string::npos);
}

TEST_F(MixedList, SubkeysComeBeforeTheirKeyAfterLoad)
{
    SortedLinkList list;
    ASSERT_EQ(LoadBytes(list, regtest::EveryTypeStream()), 0);
    std::vector<std::wstring> paths;
    for (ListNodeData* node = list.First(); node; node = list.Next()) {
        if (node->TypeCode() == ListNodeData_REGKEYINFO::kTypeCode)
            paths.push_back(static_cast<ListNodeData_REGKEYINFO*>(node)->Path());
    }
    EXPECT_EQ(paths, (std::vector<std::wstring>{L"\\Registry\\Machine\\System",
                                                L"\\Registry\\Machine\\Software\\Vendor\\Sub",
                                                L"\\Registry\\Machine\\Software\\Vendor"}));
}

TEST_F(MixedList, LogAllWritesOneEntryPerRecordAndValue)
{
    SortedLinkList list;
    ASSERT_EQ(LoadBytes(list, regtest::EveryTypeStream()), 0);
    kvotest::LogCapture log;
    list.LogAll();
    EXPECT_EQ(log.CountContaining(L"KEY >> "), 3);
    EXPECT_EQ(log.CountContaining(L"Registry Value Name : "), 4);
    EXPECT_EQ(log.CountContaining(L"Source Layer: "), 2);
    EXPECT_EQ(log.CountContaining(L"Group name:"), 2);
}

TEST_F(MixedList, MutatedStreamsLoadOrFailCleanly)
{
    const std::string valid = regtest::EveryTypeStream();
    FILE* sink = _wfopen((scratch / L"dump.txt").c_str(), L"wt");
    ASSERT_NE(sink, nullptr);
    const auto start = std::chrono::steady_clock::now();
    const kvotest::MutationReport report = kvotest::RunStreamMutations(valid, 5055u, 4000, [&](FILE* stream) {
        SortedLinkList list;
        const int result = list.Load(stream);
        // Whatever was read must dump without reading outside its records.
        rewind(sink);
        list.WriteText(sink);
        return result;
    });
    fclose(sink);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(report.runs, 4000);
    EXPECT_EQ(report.unexpected, 0);
    EXPECT_GT(report.failed, 0);
    EXPECT_GT(report.succeeded, 0);
    std::printf("mutations: %d runs, %d loaded, %d failed, %.2f s\n", report.runs, report.succeeded, report.failed,
                seconds);
}

} // namespace
