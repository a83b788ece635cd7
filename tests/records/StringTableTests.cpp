#include "ListNodeData_STR.h"
#include "RecordTestSupport.h"
#include "SortedLinkList_STR.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace Tallis::ImageUpdate;

namespace {

std::wstring Name(int i)
{
    wchar_t text[32];
    _snwprintf(text, 32, L"text-%03d", i);
    return text;
}

} // namespace

TEST(StringNode, IdsComeFromOneCounterAndKeysHaveNone)
{
    ListNodeData_STR first(L"a");
    ListNodeData_STR second(L"b");
    EXPECT_GT(first.Id(), 1000);
    EXPECT_EQ(second.Id(), first.Id() + 1);
    ListNodeData_STR key;
    EXPECT_EQ(key.Id(), -1);
    EXPECT_EQ(key.Text(), nullptr);
    EXPECT_EQ(key.DataSize(), 6);
    EXPECT_EQ(first.DataSize(), 4 + 2 * 2);
    EXPECT_EQ(first.TypeCode(), 1);
    int value = 0;
    EXPECT_EQ(first.GetUserData(), nullptr);
    first.SetUserData(&value);
    EXPECT_EQ(first.GetUserData(), &value);
    ListNodeData_STR third(L"c");
    EXPECT_EQ(third.Id(), second.Id() + 1);
}

TEST(StringNode, CompareIsCaseInsensitiveAndNoTextIsEmpty)
{
    ListNodeData_STR upper(L"ABC");
    ListNodeData_STR lower(L"abc");
    ListNodeData_STR none;
    ListNodeData_STR empty(L"");
    EXPECT_EQ(upper.Compare(&lower), 0);
    EXPECT_GT(upper.Compare(&none), 0);
    EXPECT_EQ(empty.Compare(&none), 0);
    EXPECT_LT(none.Compare(&upper), 0);
}

// Runs alone in a child process (see IdCounter.FirstIdsOfAProcessAre1001And1002).
TEST(IdCounterFreshProcess, DISABLED_FirstIdsAre1001And1002)
{
    SortedLinkList_STR table;
    EXPECT_EQ(table.Intern(L"first", true), 1001);
    ListNodeData_STR other(L"second");
    EXPECT_EQ(other.Id(), 1002);
    ListNodeData_STR key;
    EXPECT_EQ(key.Id(), -1);
    EXPECT_EQ(SharedSDPool.Intern(L"third", true), 1003);
}

TEST(IdCounter, FirstIdsOfAProcessAre1001And1002)
{
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring command = std::wstring(L"\"") + self +
                           L"\" --gtest_also_run_disabled_tests "
                           L"--gtest_filter=IdCounterFreshProcess.DISABLED_FirstIdsAre1001And1002";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 99);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(exitCode, 0u);
}

TEST(StringTable, InternOfNoneAndEmptyStoresNothing)
{
    SortedLinkList_STR table;
    EXPECT_EQ(table.Intern(nullptr, true), 1);
    EXPECT_EQ(table.Intern(L"", true), 0);
    EXPECT_EQ(table.Count(), 0);
}

TEST(StringTable, InternSharesIdsCaseInsensitivelyAndKeepsTheFirstSpelling)
{
    SortedLinkList_STR table;
    const std::int32_t id = table.Intern(L"D:PAI(A;;FA;;;SY)", true);
    EXPECT_GT(id, 1000);
    EXPECT_EQ(table.Intern(L"d:pai(a;;fa;;;sy)", true), id);
    EXPECT_EQ(table.Count(), 1);
    EXPECT_STREQ(table.TextForId(id), L"D:PAI(A;;FA;;;SY)");
    EXPECT_STREQ(table.FindText(L"D:PAI(A;;FA;;;SY)"), L"D:PAI(A;;FA;;;SY)");
    EXPECT_STREQ(table.FindText(L"d:PAI(a;;FA;;;SY)"), L"D:PAI(A;;FA;;;SY)");
    ListNodeData_STR* node = table.FindNode(L"D:pai(A;;FA;;;SY)");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Id(), id);
    EXPECT_EQ(table.FindText(L"other"), nullptr);
    EXPECT_EQ(table.FindText(L""), nullptr);
    EXPECT_EQ(table.FindText(nullptr), nullptr);
    EXPECT_EQ(table.FindNode(nullptr), nullptr);
}

TEST(StringTable, InternWithoutUniqueAlwaysAddsAndAppendTextGoesBehind)
{
    SortedLinkList_STR table;
    const std::int32_t a = table.Intern(L"same", false);
    const std::int32_t b = table.Intern(L"same", false);
    EXPECT_NE(a, b);
    EXPECT_EQ(table.Intern(nullptr, false), -1);
    EXPECT_EQ(table.Count(), 3);
    const std::int32_t c = table.AppendText(L"last");
    EXPECT_EQ(table.Count(), 4);
    SortedLinkList::Link* position = nullptr;
    std::int32_t index = 0;
    ListNodeData* node = table.FirstAt(position, index);
    ListNodeData* lastNode = node;
    while ((node = table.NextAt(position, index)) != nullptr)
        lastNode = node;
    EXPECT_EQ(static_cast<ListNodeData_STR*>(lastNode)->Id(), c);
}

TEST(StringTable, SortedAfterTheTwelfthAndResortedAfterTheThirteenth)
{
    SortedLinkList_STR table;
    for (int i = 0; i < 11; ++i)
        table.Intern(Name(i).c_str(), true);
    EXPECT_FALSE(table.HasSortedView());
    table.Intern(Name(11).c_str(), true);
    EXPECT_TRUE(table.HasSortedView());
    // A known text is found without changing membership: the view stays.
    EXPECT_GT(table.Intern(Name(3).c_str(), true), 1000);
    EXPECT_TRUE(table.HasSortedView());
    table.Intern(Name(12).c_str(), true);
    EXPECT_FALSE(table.HasSortedView());
    table.Intern(Name(5).c_str(), true);
    EXPECT_TRUE(table.HasSortedView());
    EXPECT_EQ(table.Count(), 13);
    // Every text keeps its one id.
    for (int i = 0; i < 13; ++i) {
        const std::int32_t id = table.Intern(Name(i).c_str(), true);
        EXPECT_EQ(std::wstring(table.TextForId(id)), Name(i));
    }
}

TEST(StringTable, TextForId)
{
    SortedLinkList_STR table;
    const std::int32_t id = table.Intern(L"x", true);
    EXPECT_STREQ(table.TextForId(0), L"");
    EXPECT_EQ(table.TextForId(1), nullptr);
    EXPECT_EQ(table.TextForId(999), nullptr);
    EXPECT_STREQ(table.TextForId(id), L"x");
}

TEST(StringTable, MergeFromInternsTextsWithThisTablesIds)
{
    SortedLinkList_STR target;
    const std::int32_t shared = target.Intern(L"shared", true);
    SortedLinkList_STR source;
    source.Intern(L"SHARED", true);
    source.Intern(L"new", true);
    source.InsertHead(new ListNodeData_STR(L""));
    source.InsertHead(new ListNodeData_STR());
    EXPECT_TRUE(target.MergeFrom(&source));
    EXPECT_EQ(target.Count(), 2);
    EXPECT_EQ(target.Intern(L"Shared", true), shared);
    EXPECT_NE(target.FindText(L"new"), nullptr);
}

TEST(StringTable, MergeStopsAtAForeignNode)
{
    SortedLinkList_STR source;
    source.Intern(L"kept", true);
    source.InsertHead(new kvotest::CountingNode(1));
    source.Intern(L"first", false);
    SortedLinkList_STR target;
    EXPECT_TRUE(target.MergeFrom(&source));
    EXPECT_EQ(target.Count(), 1);
    EXPECT_NE(target.FindText(L"first"), nullptr);
}

TEST(StringTable, TextDumpIsEmptyAndLogAllWritesNothing)
{
    kvotest::ScratchFolder scratch(L"records-strings");
    SortedLinkList_STR table;
    table.Intern(L"a", true);
    table.Intern(L"b", true);
    const std::wstring path = scratch / L"strings.txt";
    EXPECT_EQ(table.WriteTextFile(path.c_str()), 2);
    EXPECT_TRUE(kvotest::FileExists(path));
    EXPECT_EQ(kvotest::ReadFileBytes(path), "");
    kvotest::LogCapture log;
    EXPECT_EQ(table.LogAll(), 2);
    EXPECT_TRUE(log.Entries().empty());
}

TEST(SharedSDPool, ExistsAndHandsOutIds)
{
    SharedSDPool.AcquireWrite();
    const std::int32_t id = SharedSDPool.Intern(L"O:BAG:SYD:(A;;FA;;;BA)", true);
    SharedSDPool.ReleaseLock();
    EXPECT_GT(id, 1000);
    SharedSDPool.AcquireRead();
    const wchar_t* text = SharedSDPool.TextForId(id);
    SharedSDPool.ReleaseLock();
    EXPECT_STREQ(text, L"O:BAG:SYD:(A;;FA;;;BA)");
    SharedSDPool.AcquireWrite();
    EXPECT_EQ(SharedSDPool.Intern(L"o:bag:syd:(a;;fa;;;ba)", true), id);
    SharedSDPool.ReleaseLock();
}
