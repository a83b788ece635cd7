#include "RecordTestSupport.h"
#include "SortedLinkList.h"
#include "SortedLinkList_STR.h"
#include "StreamMutation.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace Tallis::ImageUpdate;

TEST(StreamRobustness, MutatedStringStreamsLoadOrFailCleanly)
{
    kvotest::ScratchFolder scratch(L"records-robust");
    SortedLinkList_STR table;
    table.Intern(L"D:(A;;FA;;;SY)", true);
    table.Intern(L"", false);
    table.Intern(L"O:BAG:BA", true);
    table.InsertHead(new ListNodeData_STR());
    const std::wstring path = scratch / L"valid.bin";
    FILE* out = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(table.Save(out), 0);
    fclose(out);
    const std::string valid = kvotest::ReadFileBytes(path);

    const auto start = std::chrono::steady_clock::now();
    const kvotest::MutationReport report =
        kvotest::RunStreamMutations(valid, 20261209u, 4000, [](FILE* stream) {
            SortedLinkList list;
            return int(list.Load(stream));
        });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(report.runs, 4000);
    EXPECT_EQ(report.unexpected, 0);
    EXPECT_GT(report.failed, 0);
    EXPECT_GT(report.succeeded, 0);
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("mutations: %d runs, %d loaded, %d failed, %.2f s\n", report.runs, report.succeeded, report.failed,
                seconds);
}
