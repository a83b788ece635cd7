// The tree walks on a tree 750 folders deep, deeper than the recursive copy and removal ever got
// (they ran out of stack between 400 and 600 levels): the estimate, the copy, the output listing and
// the removal. The program's own run over 1,500 levels (DeepTreeRun) covers the depth at which the
// recursive estimate gave out. Under Wine every open of a deep folder costs time in proportion to
// its depth, so the tree is built once and each walk runs once.
#include "FileSystem.h"
#include "LogCapture.h"
#include "OutputTree.h"

#include <gtest/gtest.h>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

constexpr int kDepth = 750;

// "d\d\...\d" below a root, kDepth levels; a file every 250 levels and one at the bottom.
std::string DeepRelative()
{
    std::string relative;
    for (int level = 0; level < kDepth; ++level)
        relative += level == 0 ? "d" : "/d";
    return relative;
}

// Built from the Unix side: Win32 calls of the test helpers walk by recursion.
::testing::AssertionResult MakeDeepTree(const std::wstring& root)
{
    CreateDirectoryW(root.c_str(), nullptr);
    const std::string unixRoot = UnixPath(root);
    const std::string script = "mkdir -p '" + unixRoot + "/" + DeepRelative() +
                               "'; p='" + unixRoot + "'; for i in $(seq 1 " + std::to_string(kDepth) +
                               "); do p=\"$p/d\"; if [ $((i % 250)) -eq 0 ]; then printf 'level %s' $i > \"$p/at$i.log\"; fi;"
                               " done; printf 'the deepest file' > \"$p/deepest.log\"";
    if (RunUnixShell(script, 120000) != 0)
        return ::testing::AssertionFailure() << "could not build the deep tree below " << unixRoot;
    return ::testing::AssertionSuccess();
}

// Removes a deep tree from the Unix side (the test helpers would recurse).
void RemoveDeep(const std::wstring& root)
{
    const std::string unixRoot = UnixPath(root);
    if (!unixRoot.empty())
        (void)RunUnixShell("rm -rf '" + unixRoot + "'");
}

// The same bytes at the bottom of both trees, and the same number of files, seen from the Unix side.
::testing::AssertionResult SameDeepTree(const std::wstring& expected, const std::wstring& actual)
{
    const std::string a = UnixPath(expected), b = UnixPath(actual);
    const std::string deepest = "/" + DeepRelative() + "/deepest.log";
    if (RunUnixShell("cmp -s '" + a + deepest + "' '" + b + deepest + "'") != 0)
        return ::testing::AssertionFailure() << "the deepest file did not arrive in " << b;
    if (RunUnixShell("test \"$(cd '" + a + "' && find . | sort | md5sum)\" = \"$(cd '" + b + "' && find . | sort | md5sum)\"") != 0)
        return ::testing::AssertionFailure() << "the trees below " << a << " and " << b << " differ";
    return ::testing::AssertionSuccess();
}

class DeepTree : public ::testing::Test {
protected:
    void TearDown() override
    {
        RemoveDeep(source);
        RemoveDeep(destination);
    }

    ScratchLog log{L"deep-log"};
    ScratchFolder folder{L"deep"};
    std::wstring source = folder / L"source";
    std::wstring destination = folder / L"destination";
};

// Every walk keeps its pending folders on the heap: none of them may run out of thread stack.
TEST_F(DeepTree, CopyMeasureListAndRemoveWorkAtSevenHundredFiftyLevels)
{
    ASSERT_TRUE(MakeDeepTree(source));

    TreeSize size;
    EXPECT_EQ(MeasureFolderTree(source.c_str(), true, size), 0u);
    EXPECT_EQ(size.files, 4u); // levels 250, 500, 750 and the deepest
    EXPECT_EQ(size.bytes, 3u * 9 + 16); // "level 250" .. "level 750", "the deepest file"

    EXPECT_EQ(CopyFolderTree(source.c_str(), destination.c_str(), true), 0u);
    EXPECT_TRUE(SameDeepTree(source, destination));
    EXPECT_EQ(log.ErrorLog(), "");

    // The output listing, as the result file and the archive take it.
    std::vector<TreeEntry> entries;
    ASSERT_EQ(ListTreeEntries(FullLongPath(destination.c_str()), entries), 0u);
    EXPECT_EQ(entries.size(), size_t(kDepth) + 4);
    std::wstring deepest;
    for (int level = 0; level < kDepth; ++level)
        deepest += L"d\\";
    deepest += L"deepest.log";
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().relativePath, deepest);
    EXPECT_EQ(entries.back().size, 16u);
    for (const TreeEntry& entry : entries)
        EXPECT_EQ(entry.error, 0u) << Narrow(entry.relativePath);

    EXPECT_EQ(RemoveFolderTree(destination.c_str()), 0u);
    EXPECT_FALSE(FolderExists(destination));
}

} // namespace
