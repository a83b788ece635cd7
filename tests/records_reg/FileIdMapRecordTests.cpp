#include "ListNodeData_FILEIDMAP.h"
#include "RecordTestSupport.h"
#include "RegRecordBytes.h"
#include "RegTestSupport.h"

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;
using regtest::FileIdEntry;
using regtest::FileIdRecord;
using regtest::U32;

namespace {

class FileIdMapRecord : public regtest::RecordFixture {};

TEST_F(FileIdMapRecord, SortsBySignedSentinelId)
{
    SortedLinkList list;
    ASSERT_EQ(LoadBytes(list, regtest::ListStream({FileIdEntry(1, 10, 5), FileIdEntry(2, 20, -1),
                                                   FileIdEntry(3, 30, 3)})),
              0);
    std::vector<std::int64_t> ids;
    for (ListNodeData* node = list.First(); node; node = list.Next())
        ids.push_back(static_cast<ListNodeData_FILEIDMAP*>(node)->SentinelFileId());
    EXPECT_EQ(ids, (std::vector<std::int64_t>{-1, 3, 5}));
}

TEST_F(FileIdMapRecord, DumpAndLogLineShowSixteenHexDigits)
{
    const std::string record = FileIdRecord(-7, 0x1AB, 0x00F0000000000001ll);
    auto node = ReadNode(&ListNodeData_FILEIDMAP::FromStream, U32(32) + record);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Dump(*node), "Source Layer:              -7\n"
                           "FileID in source layer:    00000000000001AB\n"
                           "FileID of Sentinel File:   00F0000000000001\n"
                           "\n");
    kvotest::LogCapture log;
    node->LogLine();
    EXPECT_EQ(log.CountContaining(L"Source Layer: -7, FileID in Source Layer: 00000000000001AB, "
                                  L"FileID of Sentinel File: 00F0000000000001"),
              1);
    EXPECT_EQ(node->DataSize(), 32);
    EXPECT_EQ(Saved(*node), U32(32) + record);
}

TEST_F(FileIdMapRecord, LongerRecordWithAMatchingSizeIsKeptWhole)
{
    std::string record = FileIdRecord(1, 2, 3) + std::string("\x01\x02\x03\x04", 4);
    record.replace(4, 4, U32(36));
    auto node = ReadNode(&ListNodeData_FILEIDMAP::FromStream, U32(36) + record);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Saved(*node), U32(36) + record);
}

TEST_F(FileIdMapRecord, MalformedRecordsAreRejected)
{
    std::string wrongSize = FileIdRecord(1, 2, 3);
    wrongSize.replace(4, 4, U32(40));
    std::string shortRecord = FileIdRecord(1, 2, 3).substr(0, 24);
    shortRecord.replace(4, 4, U32(24));
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"version 1", U32(32) + FileIdRecord(1, 2, 3, 1)},
        {"size field differs", U32(32) + wrongSize},
        {"shorter than 32 bytes", U32(24) + shortRecord},
        {"cut short", U32(32) + FileIdRecord(1, 2, 3).substr(0, 31)},
        {"huge length", U32(0x7FFFFFFF) + FileIdRecord(1, 2, 3)},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(ReadNode(&ListNodeData_FILEIDMAP::FromStream, bytes), nullptr) << what;
        SortedLinkList list;
        EXPECT_EQ(LoadBytes(list, U32(1) + U32(11) + bytes), -1) << what;
    }
}

} // namespace
