#include "ListNodeData_STR.h"
#include "NodeFactory.h"
#include "RecordTestSupport.h"
#include "SortedLinkList.h"
#include "SortedLinkList_STR.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;
using kvotest::Bytes;

namespace {

class ListStream : public ::testing::Test {
protected:
    kvotest::ScratchFolder scratch{L"records-stream"};

    std::string SaveBytes(SortedLinkList& list, std::int32_t* result = nullptr)
    {
        const std::wstring path = scratch / L"saved.bin";
        FILE* out = _wfopen(path.c_str(), L"wb");
        EXPECT_NE(out, nullptr);
        const std::int32_t saved = list.Save(out);
        fclose(out);
        if (result)
            *result = saved;
        return kvotest::ReadFileBytes(path);
    }

    std::int32_t LoadBytes(SortedLinkList& list, const std::string& bytes)
    {
        FILE* in = kvotest::OpenBytes(scratch / L"load.bin", bytes);
        EXPECT_NE(in, nullptr);
        const std::int32_t result = list.Load(in);
        fclose(in);
        return result;
    }
};

struct Entry {
    std::int32_t id;
    std::wstring text;
    bool operator==(const Entry& other) const { return id == other.id && text == other.text; }
};

std::vector<Entry> WalkStrings(SortedLinkList& list)
{
    std::vector<Entry> entries;
    for (ListNodeData* node = list.First(); node; node = list.Next()) {
        auto* text = static_cast<ListNodeData_STR*>(node);
        entries.push_back({text->Id(), text->Text() ? text->Text() : L"<none>"});
    }
    return entries;
}

// Takes the chain apart from the head: the chain order.
std::vector<Entry> DrainChain(SortedLinkList& list)
{
    std::vector<Entry> entries;
    while (ListNodeData* node = list.TakeFirst(true)) {
        auto* text = static_cast<ListNodeData_STR*>(node);
        entries.push_back({text->Id(), text->Text() ? text->Text() : L"<none>"});
        delete node;
    }
    return entries;
}

} // namespace

TEST_F(ListStream, SavedBytesMatchTheLayoutAndLoadBackInOrder)
{
    SortedLinkList_STR list;
    auto* beta = new ListNodeData_STR(L"Beta");
    auto* alpha = new ListNodeData_STR(L"alpha");
    auto* gamma = new ListNodeData_STR(L"gamma \x00E9");
    list.InsertHead(beta);
    list.InsertHead(alpha);
    list.InsertHead(gamma);
    // No view: Save follows the chain (gamma, alpha, Beta).
    std::int32_t result = -2;
    const std::string saved = SaveBytes(list, &result);
    EXPECT_EQ(result, 0);
    const std::string expected = Bytes()
                                     .Int32(3)
                                     .StringEntry(gamma->Id(), L"gamma \x00E9")
                                     .StringEntry(alpha->Id(), L"alpha")
                                     .StringEntry(beta->Id(), L"Beta")
                                     .Str();
    ASSERT_EQ(saved, expected);

    // A stream written by hand: ids as stored, counter untouched.
    const std::string handmade = Bytes()
                                     .Int32(4)
                                     .StringEntry(7001, L"delta")
                                     .StringEntry(7002, L"Alpha")
                                     .StringEntry(7003, L"charlie")
                                     .StringEntry(7004, L"bravo")
                                     .Str();
    SortedLinkList loaded;
    EXPECT_EQ(LoadBytes(loaded, handmade), 0);
    EXPECT_TRUE(loaded.HasSortedView());
    EXPECT_EQ(WalkStrings(loaded), (std::vector<Entry>{{7002, L"Alpha"}, {7004, L"bravo"}, {7003, L"charlie"},
                                                       {7001, L"delta"}}));
    // Saved again from the view: ascending order, same bytes per entry.
    const std::string resaved = SaveBytes(loaded);
    EXPECT_EQ(resaved, Bytes()
                           .Int32(4)
                           .StringEntry(7002, L"Alpha")
                           .StringEntry(7004, L"bravo")
                           .StringEntry(7003, L"charlie")
                           .StringEntry(7001, L"delta")
                           .Str());
    EXPECT_EQ(DrainChain(loaded), (std::vector<Entry>{{7004, L"bravo"}, {7003, L"charlie"}, {7002, L"Alpha"},
                                                      {7001, L"delta"}}));
}

TEST_F(ListStream, NodeWithoutTextWritesLengthSixAndOneNul)
{
    SortedLinkList list;
    list.InsertHead(new ListNodeData_STR());
    const std::string saved = SaveBytes(list);
    EXPECT_EQ(saved, Bytes().Int32(1).Int32(1).UInt32(6).Int32(-1).Raw(std::string(2, '\0')).Str());
    SortedLinkList loaded;
    EXPECT_EQ(LoadBytes(loaded, saved), 0);
    auto* node = static_cast<ListNodeData_STR*>(loaded.First());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Id(), -1);
    EXPECT_STREQ(node->Text(), L"");
}

TEST_F(ListStream, EmptyList)
{
    SortedLinkList list;
    EXPECT_EQ(SaveBytes(list), Bytes().Int32(0).Str());
    EXPECT_EQ(LoadBytes(list, Bytes().Int32(0).Str()), 0);
    EXPECT_FALSE(list.HasSortedView());
    EXPECT_EQ(LoadBytes(list, ""), -1);
}

TEST_F(ListStream, UnknownTypeCodeKeepsTheNodesReadSoFar)
{
    const std::string bytes = Bytes()
                                  .Int32(5)
                                  .StringEntry(3001, L"c")
                                  .StringEntry(3002, L"a")
                                  .StringEntry(3003, L"b")
                                  .Int32(7)
                                  .UInt32(6)
                                  .Int32(3004)
                                  .Text(L"")
                                  .Str();
    SortedLinkList list;
    EXPECT_EQ(LoadBytes(list, bytes), -1);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_TRUE(list.HasSortedView());
    EXPECT_EQ(WalkStrings(list), (std::vector<Entry>{{3002, L"a"}, {3003, L"b"}, {3001, L"c"}}));
}

// Codes 2, 3, 4, 5, 11 and 12 belong to the file, folder, registry, file-id map and group records, registered in the
// same table by their own work.
TEST_F(ListStream, CodesWithoutReader)
{
    EXPECT_EQ(FindNodeReader(1), &ListNodeData_STR::FromStream);
    for (std::int32_t code : {0, 6, 7, 8, 9, 10, 13, 99, -1})
        EXPECT_EQ(FindNodeReader(code), nullptr) << code;
}

TEST_F(ListStream, FewerNodesThanAnnouncedFails)
{
    SortedLinkList list;
    EXPECT_EQ(LoadBytes(list, Bytes().Int32(3).StringEntry(1, L"x").Str()), -1);
    EXPECT_EQ(list.Count(), 1);
    SortedLinkList more;
    // Reading stops once the announced count is reached.
    EXPECT_EQ(LoadBytes(more, Bytes().Int32(1).StringEntry(1, L"x").StringEntry(2, L"y").Str()), 0);
    EXPECT_EQ(more.Count(), 1);
}

TEST_F(ListStream, MalformedStringNodesAreRejected)
{
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"length 4", Bytes().UInt32(4).Int32(1).Str()},
        {"length 5", Bytes().UInt32(5).Int32(1).Raw("A").Str()},
        {"length 0", Bytes().UInt32(0).Int32(1).Str()},
        {"odd length 7", Bytes().UInt32(7).Int32(1).Raw(std::string("A\0\0", 3)).Str()},
        {"no terminator", Bytes().UInt32(8).Int32(1).Raw(std::string("A\0B\0", 4)).Str()},
        {"short text", Bytes().UInt32(12).Int32(1).Raw(std::string("A\0\0\0", 4)).Str()},
        {"huge length", Bytes().UInt32(0xFFFFFFF0u).Int32(1).Raw(std::string(64, '\0')).Str()},
        {"missing id", Bytes().UInt32(6).Raw("\x01\x02").Str()},
        {"missing length", Bytes().Raw("\x06").Str()},
    };
    for (const Case& c : cases) {
        FILE* in = kvotest::OpenBytes(scratch / L"node.bin", c.bytes);
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(ListNodeData_STR::FromStream(in), nullptr) << c.what;
        fclose(in);
        SortedLinkList list;
        EXPECT_EQ(LoadBytes(list, Bytes().Int32(1).Int32(1).Raw(c.bytes).Str()), -1) << c.what;
        EXPECT_EQ(list.Count(), 0) << c.what;
    }
}

TEST_F(ListStream, EmbeddedNulEndsTheText)
{
    SortedLinkList list;
    const std::string bytes = Bytes().Int32(1).Int32(1).UInt32(10).Int32(42).Raw(std::string("A\0\0\0\0\0", 6)).Str();
    EXPECT_EQ(LoadBytes(list, bytes), 0);
    auto* node = static_cast<ListNodeData_STR*>(list.First());
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->Text(), L"A");
    EXPECT_EQ(node->Id(), 42);
}
