#include "ListNodeData_STR.h"
#include "RecordTestSupport.h"
#include "SortedLinkList.h"
#include "SortedLinkList_STR.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using kvotest::Bytes;
using kvotest::CountingNode;
using kvotest::LogCapture;

namespace {

// Fills a list with counting nodes by InsertHead, so the chain is the reverse of keys.
std::vector<CountingNode*> Fill(SortedLinkList& list, const std::vector<int>& keys)
{
    std::vector<CountingNode*> nodes;
    for (int key : keys) {
        nodes.push_back(new CountingNode(key));
        EXPECT_TRUE(list.InsertHead(nodes.back()));
    }
    return nodes;
}

std::vector<int> Walk(SortedLinkList& list)
{
    std::vector<int> keys;
    for (ListNodeData* node = list.First(); node; node = list.Next())
        keys.push_back(static_cast<CountingNode*>(node)->Key());
    return keys;
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> keys;
    for (int k = from; k <= to; ++k)
        keys.push_back(k);
    return keys;
}

// Keys shuffled deterministically, so that the chain order is not a sorted order.
std::vector<int> Shuffled(int n)
{
    std::vector<int> keys;
    for (int i = 0; i < n; ++i)
        keys.push_back((i * 7) % n);
    return keys;
}

std::vector<int> SortKeys(SortedLinkList& list)
{
    std::vector<int> keys;
    SortedLinkList::Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = list.FirstAt(position, index); node; node = list.NextAt(position, index))
        keys.push_back(node->GetSortKey());
    return keys;
}

class SortedLinkListTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(CountingNode::Alive(), 0); }
};

} // namespace

TEST_F(SortedLinkListTest, EmptyList)
{
    SortedLinkList list;
    CountingNode key(1);
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_EQ(list.Find(&key), nullptr);
    EXPECT_EQ(list.FindByName(L"x"), nullptr);
    EXPECT_FALSE(list.HasSortedView());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.DataSize(), 0);
    EXPECT_EQ(list.TakeFirst(true), nullptr);
    EXPECT_EQ(list.GetName(), nullptr);
}

TEST_F(SortedLinkListTest, InsertHeadReversesAndAppendKeepsOrder)
{
    SortedLinkList list;
    Fill(list, {1, 2, 3});
    EXPECT_EQ(Walk(list), (std::vector<int>{3, 2, 1}));
    list.Append(new CountingNode(9));
    EXPECT_EQ(Walk(list), (std::vector<int>{3, 2, 1, 9}));
    EXPECT_EQ(list.Count(), 4);
    list.RemoveAll();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Append(new CountingNode(5)), true);
    EXPECT_EQ(Walk(list), (std::vector<int>{5}));
}

TEST_F(SortedLinkListTest, SortAscendingDescendingAndSortKey)
{
    SortedLinkList list;
    Fill(list, Shuffled(20));
    ASSERT_TRUE(list.Sort(1, 4));
    EXPECT_TRUE(list.HasSortedView());
    EXPECT_EQ(Walk(list), Range(0, 19));
    EXPECT_EQ(SortKeys(list), std::vector<int>(20, 4));
    // Compare answers +-7: the descending comparison inverts any sign.
    ASSERT_TRUE(list.Sort(2, 0));
    std::vector<int> descending = Range(0, 19);
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(Walk(list), descending);
    EXPECT_EQ(list.SortMode(), 2);
}

TEST_F(SortedLinkListTest, FindIsLinearUpToTwelveNodes)
{
    SortedLinkList list;
    std::vector<CountingNode*> nodes = Fill(list, Shuffled(12));
    for (CountingNode* node : nodes)
        node->SetSortKey(5);
    CountingNode key(4);
    ListNodeData* found = list.Find(&key);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(static_cast<CountingNode*>(found)->Key(), 4);
    CountingNode missing(40);
    EXPECT_EQ(list.Find(&missing), nullptr);
    EXPECT_FALSE(list.HasSortedView());
    EXPECT_EQ(SortKeys(list), std::vector<int>(12, 5));
}

TEST_F(SortedLinkListTest, FindBuildsTheViewWithTheCurrentModeAndKeyZeroAtThirteen)
{
    SortedLinkList list;
    Fill(list, Shuffled(12));
    ASSERT_TRUE(list.Sort(2, 9));
    list.InsertHead(new CountingNode(12));
    EXPECT_FALSE(list.HasSortedView());
    CountingNode key(3);
    // The binary search compares in ascending sense, so on a descending view only the result's
    // type is asserted; the view itself is what this test is about.
    (void)list.Find(&key);
    EXPECT_TRUE(list.HasSortedView());
    EXPECT_EQ(list.SortMode(), 2);
    EXPECT_EQ(SortKeys(list), std::vector<int>(13, 0));
    std::vector<int> descending = Range(0, 12);
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(Walk(list), descending);
}

TEST_F(SortedLinkListTest, FindBinarySearchesAnAscendingView)
{
    SortedLinkList list;
    Fill(list, Shuffled(101));
    for (int k = 0; k < 101; ++k) {
        CountingNode key(k);
        ListNodeData* found = list.Find(&key);
        ASSERT_NE(found, nullptr) << k;
        EXPECT_EQ(static_cast<CountingNode*>(found)->Key(), k);
    }
    CountingNode missing(1000);
    EXPECT_EQ(list.Find(&missing), nullptr);
    EXPECT_TRUE(list.HasSortedView());
}

TEST_F(SortedLinkListTest, UnknownSortModeWarnsEachTimeAndSortsAscending)
{
    LogCapture log;
    SortedLinkList list;
    Fill(list, Shuffled(13));
    ASSERT_TRUE(list.Sort(3, 0));
    EXPECT_EQ(log.CountContaining(L"Unspecified sorting mode, sorting in ascending order"), 1);
    EXPECT_EQ(list.SortMode(), 3);
    EXPECT_EQ(Walk(list), Range(0, 12));
    list.InsertHead(new CountingNode(13));
    CountingNode key(13);
    EXPECT_NE(list.Find(&key), nullptr);
    const std::vector<std::wstring> entries = log.Entries();
    ASSERT_EQ(log.CountContaining(L"Unspecified sorting mode, sorting in ascending order"), 2);
    for (const std::wstring& entry : entries) {
        EXPECT_EQ(entry.rfind(L"[WARN ]", 0), 0u) << kvotest::Narrow(entry);
        EXPECT_NE(entry.find(L"SortedLinkLi"), std::wstring::npos) << kvotest::Narrow(entry);
    }
}

TEST_F(SortedLinkListTest, NextPastTheEndOfTheViewResetsTheIndex)
{
    SortedLinkList list;
    Fill(list, {2, 0, 1});
    ASSERT_TRUE(list.Sort(1, 0));
    EXPECT_EQ(Walk(list), (std::vector<int>{0, 1, 2}));
    // Walk ended with Next returning none and the index back at 0: the next Next gives element 1.
    ListNodeData* node = list.Next();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(static_cast<CountingNode*>(node)->Key(), 1);
}

TEST_F(SortedLinkListTest, CallerHeldWalksRunSideBySide)
{
    SortedLinkList list;
    Fill(list, {1, 2, 3});
    for (bool sorted : {false, true}) {
        if (sorted)
            list.Sort(1, 0);
        SortedLinkList::Link* p1 = nullptr;
        SortedLinkList::Link* p2 = nullptr;
        std::int32_t i1 = 0;
        std::int32_t i2 = 0;
        std::vector<int> outer;
        for (ListNodeData* a = list.FirstAt(p1, i1); a; a = list.NextAt(p1, i1)) {
            int inner = 0;
            for (ListNodeData* b = list.FirstAt(p2, i2); b; b = list.NextAt(p2, i2))
                ++inner;
            EXPECT_EQ(inner, 3);
            outer.push_back(static_cast<CountingNode*>(a)->Key());
        }
        EXPECT_EQ(outer, sorted ? (std::vector<int>{1, 2, 3}) : (std::vector<int>{3, 2, 1}));
    }
}

TEST_F(SortedLinkListTest, ACallerHeldWalkStaysOnTheChainWhenASearchBuildsTheView)
{
    // Another reader's search may sort the list in the middle of a walk that began on the chain.
    SortedLinkList list;
    std::vector<int> keys = Shuffled(20);
    Fill(list, keys);
    SortedLinkList::Link* position = nullptr;
    std::int32_t index = 0;
    std::vector<int> walked;
    for (ListNodeData* node = list.FirstAt(position, index); node; node = list.NextAt(position, index)) {
        walked.push_back(static_cast<CountingNode*>(node)->Key());
        if (walked.size() == 10) {
            CountingNode key(3);
            ASSERT_NE(list.Find(&key), nullptr);
            ASSERT_TRUE(list.HasSortedView());
        }
    }
    EXPECT_EQ(walked, std::vector<int>(keys.rbegin(), keys.rend()));
}

TEST_F(SortedLinkListTest, ForEachStopsAtNegativeResultAndRestoresTheIndex)
{
    SortedLinkList list;
    Fill(list, Shuffled(5));
    list.Sort(1, 0);
    ASSERT_NE(list.First(), nullptr);
    ASSERT_NE(list.Next(), nullptr); // index 1
    int visited = 0;
    const std::int32_t result = list.ForEach3(
        [](ListNodeData* node, SortedLinkList* owner, void* a1, void*, void*) -> std::int32_t {
            EXPECT_NE(owner, nullptr);
            ++*static_cast<int*>(a1);
            return static_cast<CountingNode*>(node)->Key() == 2 ? -5 : 1;
        },
        &visited, nullptr, nullptr);
    EXPECT_EQ(result, -5);
    EXPECT_EQ(visited, 3);
    ListNodeData* next = list.Next();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(static_cast<CountingNode*>(next)->Key(), 2);

    int all = 0;
    EXPECT_EQ(list.ForEachNode([](ListNodeData*, void* a1, void*, void*) -> std::int32_t {
        return ++*static_cast<int*>(a1);
    }, &all, nullptr, nullptr), 5);
    EXPECT_EQ(all, 5);
    SortedLinkList empty;
    EXPECT_EQ(empty.ForEach5([](ListNodeData*, SortedLinkList*, void*, void*, void*, void*, void*) -> std::int32_t {
        return 3;
    }, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(SortedLinkListTest, TakeFirst)
{
    SortedLinkList list;
    Fill(list, {1, 2, 3});
    ListNodeData* first = list.First();
    EXPECT_EQ(list.TakeFirst(false), first);
    EXPECT_EQ(list.Count(), 3);
    ListNodeData* taken = list.TakeFirst(true);
    ASSERT_EQ(taken, first);
    EXPECT_EQ(taken->RefCount(), 0);
    EXPECT_EQ(list.Count(), 2);
    delete taken;
    delete list.TakeFirst(true);
    delete list.TakeFirst(true);
    EXPECT_EQ(list.TakeFirst(true), nullptr);
    EXPECT_TRUE(list.Append(new CountingNode(7)));
    EXPECT_EQ(Walk(list), (std::vector<int>{7}));
}

TEST_F(SortedLinkListTest, NodeInTwoListsSurvivesTheFirstRemoveAll)
{
    auto* first = new SortedLinkList;
    SortedLinkList second;
    Fill(*first, {1, 2});
    ASSERT_TRUE(second.AddAll(first));
    EXPECT_EQ(Walk(second), (std::vector<int>{1, 2}));
    EXPECT_EQ(CountingNode::Alive(), 2);
    first->RemoveAll();
    EXPECT_EQ(CountingNode::Alive(), 2);
    EXPECT_EQ(Walk(second), (std::vector<int>{1, 2}));
    delete first;
    EXPECT_EQ(CountingNode::Alive(), 2);
    second.RemoveAll();
    EXPECT_EQ(CountingNode::Alive(), 0);
}

TEST_F(SortedLinkListTest, ChildListsAreEmptiedWithTheirNode)
{
    {
        SortedLinkList list;
        auto* parent = new CountingNode(1);
        ASSERT_NE(parent->ChildList(), nullptr);
        parent->ChildList()->InsertHead(new CountingNode(2));
        list.InsertHead(parent);
        EXPECT_EQ(CountingNode::Alive(), 2);
    }
    EXPECT_EQ(CountingNode::Alive(), 0);
}

TEST_F(SortedLinkListTest, ExcludedNodesAreLeftOutOfSave)
{
    kvotest::ScratchFolder scratch(L"records-exclude");
    SortedLinkList list;
    std::vector<CountingNode*> nodes = Fill(list, {1, 2, 3});
    list.Exclude(nodes[1]);
    list.Exclude(nodes[1]);
    EXPECT_EQ(list.ExcludedCount(), 1);
    FILE* out = _wfopen((scratch / L"a.bin").c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(list.Save(out), 0);
    fclose(out);
    const std::string expected =
        Bytes().Int32(2).Int32(99).UInt32(4).Int32(3).Int32(99).UInt32(4).Int32(1).Str();
    EXPECT_EQ(kvotest::ReadFileBytes(scratch / L"a.bin"), expected);

    // Cleared directly, the flag is seen only when the list recounts.
    nodes[0]->MarkExcluded();
    out = _wfopen((scratch / L"b.bin").c_str(), L"wb");
    EXPECT_EQ(list.Save(out), -1);
    fclose(out);
    list.SetRecountOnSave();
    out = _wfopen((scratch / L"c.bin").c_str(), L"wb");
    EXPECT_EQ(list.Save(out), 0);
    fclose(out);
    EXPECT_EQ(list.ExcludedCount(), 2);
    EXPECT_EQ(kvotest::ReadFileBytes(scratch / L"c.bin"), Bytes().Int32(1).Int32(99).UInt32(4).Int32(3).Str());
}

TEST_F(SortedLinkListTest, DataSizeAddsTheNodes)
{
    SortedLinkList list;
    Fill(list, {1, 2, 3});
    list.InsertHead(new ListNodeData_STR(L"abc"));
    EXPECT_EQ(list.DataSize(), 3 * 4 + (4 + 2 * 4));
}

TEST_F(SortedLinkListTest, NamesOfListAndNodes)
{
    SortedLinkList list;
    const wchar_t* stored = list.SetName(L"files");
    EXPECT_STREQ(stored, L"files");
    EXPECT_EQ(list.GetName(), stored);
    EXPECT_EQ(list.SetName(nullptr), nullptr);

    CountingNode node(1);
    EXPECT_EQ(node.CompareName(L"x"), -1);
    node.SetName(L"Beta");
    EXPECT_EQ(node.CompareName(L"BETA"), 0);
    EXPECT_LT(node.CompareName(L"alpha"), 0);
    EXPECT_GT(node.CompareName(L"gamma"), 0);
}

TEST_F(SortedLinkListTest, FindByNameLinearAndBinary)
{
    SortedLinkList list;
    std::vector<CountingNode*> nodes = Fill(list, Range(0, 19));
    for (CountingNode* node : nodes) {
        wchar_t name[16];
        _snwprintf(name, 16, L"n%02d", node->Key());
        node->SetName(name);
    }
    ListNodeData* found = list.FindByName(L"N07");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(static_cast<CountingNode*>(found)->Key(), 7);
    EXPECT_TRUE(list.HasSortedView());
    EXPECT_EQ(list.FindByName(L"n99"), nullptr);

    SortedLinkList small;
    auto* named = new CountingNode(1);
    named->SetName(L"one");
    small.InsertHead(named);
    small.InsertHead(new CountingNode(2));
    EXPECT_EQ(small.FindByName(L"ONE"), named);
    EXPECT_FALSE(small.HasSortedView());
}

TEST_F(SortedLinkListTest, MixedTypesAreOrderedByTypeCodeFirst)
{
    SortedLinkList list;
    list.InsertHead(new CountingNode(5, 99));
    list.InsertHead(new ListNodeData_STR(L"zeta"));
    list.InsertHead(new CountingNode(1, 99));
    list.InsertHead(new ListNodeData_STR(L"alpha"));
    for (int k = 0; k < 12; ++k)
        list.InsertHead(new CountingNode(10 + k, 50));
    ASSERT_TRUE(list.Sort(1, 0));
    std::vector<std::int32_t> codes;
    for (ListNodeData* node = list.First(); node; node = list.Next())
        codes.push_back(node->TypeCode());
    std::vector<std::int32_t> expected = {1, 1};
    expected.insert(expected.end(), 12, 50);
    expected.insert(expected.end(), {99, 99});
    EXPECT_EQ(codes, expected);
    ListNodeData_STR key(L"ZETA");
    EXPECT_NE(list.Find(&key), nullptr);
    CountingNode missing(5, 50);
    EXPECT_EQ(list.Find(&missing), nullptr);
    list.RemoveAll();
}

TEST_F(SortedLinkListTest, WriteTextFileUsesTextModeAndRestoresTheIndex)
{
    kvotest::ScratchFolder scratch(L"records-text");
    SortedLinkList list;
    Fill(list, {3, 1, 2});
    list.Sort(1, 0);
    const std::wstring path = scratch / L"dump.txt";
    EXPECT_EQ(list.WriteTextFile(path.c_str()), 3);
    EXPECT_EQ(kvotest::ReadFileBytes(path), "node 1\r\nnode 2\r\nnode 3\r\n");
    // Truncated on the next write.
    list.RemoveAll();
    EXPECT_EQ(list.WriteTextFile(path.c_str()), 0);
    EXPECT_EQ(kvotest::ReadFileBytes(path), "");
}

TEST_F(SortedLinkListTest, WriteTextFileInAMissingFolderLogsWarnThenError)
{
    kvotest::ScratchFolder scratch(L"records-missing");
    LogCapture log;
    SortedLinkList list;
    Fill(list, {1});
    const std::wstring path = scratch / L"absent\\dump.txt";
    EXPECT_EQ(list.WriteTextFile(path.c_str()), -1);
    std::vector<std::wstring> entries = log.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].rfind(L"[WARN ]", 0), 0u);
    EXPECT_NE(entries[0].find(L"WSBaseObject"), std::wstring::npos);
    EXPECT_NE(entries[0].find(L"Failed to open " + path + L", Error:2"), std::wstring::npos)
        << kvotest::Narrow(entries[0]);
    EXPECT_EQ(entries[1].rfind(L"[ERROR]", 0), 0u);
    EXPECT_NE(entries[1].find(L"SortedLinkLi"), std::wstring::npos);
    EXPECT_NE(entries[1].find(L"Failed to create " + path + L", Error:3"), std::wstring::npos)
        << kvotest::Narrow(entries[1]);
}

TEST_F(SortedLinkListTest, LogAllCallsEveryNode)
{
    LogCapture log;
    SortedLinkList list;
    Fill(list, {1, 2});
    EXPECT_EQ(list.LogAll(), 2);
    EXPECT_EQ(log.CountContaining(L"node "), 2);
}
