#include "PathBuilder.h"

#include <gtest/gtest.h>

#include <string>

using Tallis::ImageUpdate::PathBuilder;

namespace {

std::wstring Join(const wchar_t* base, const wchar_t* name, bool keep)
{
    PathBuilder path(base, name, keep);
    return path.GetPath();
}

} // namespace

TEST(PathBuilderJoin, SeparatorsAreAddedOnceAndTrailingOneRemoved)
{
    EXPECT_EQ(Join(L"C:\\dir", L"file.txt", false), L"C:\\dir\\file.txt");
    EXPECT_EQ(Join(L"C:\\dir\\", L"\\file.txt", false), L"C:\\dir\\file.txt");
    EXPECT_EQ(Join(L"C:\\a", L"\\\\b", false), L"C:\\a\\\\b");
    EXPECT_EQ(Join(L"\\", L"data", true), L"\\data\\");
    EXPECT_EQ(Join(L"", L"x", false), L"x");
    EXPECT_EQ(Join(L"C:\\dir", L"\\", false), L"C:\\dir");
    EXPECT_EQ(Join(L"C:\\dir", nullptr, false), L"C:\\dir");
    EXPECT_EQ(Join(L"C:\\dir", L"", true), L"C:\\dir\\");
    EXPECT_EQ(Join(L"C:\\a/b", L".\\..", false), L"C:\\a/b\\.\\..");
}

TEST(PathBuilderJoin, RootsAndEmptyInputs)
{
    EXPECT_EQ(std::wstring(PathBuilder(L"C:\\", false).GetPath()), L"C:");
    EXPECT_EQ(std::wstring(PathBuilder(L"C:", false).GetPath()), L"C:");
    EXPECT_EQ(std::wstring(PathBuilder(L"data", true).GetPath()), L"data\\");
    EXPECT_EQ(std::wstring(PathBuilder(L"", false).GetPath()), L"");
    EXPECT_EQ(std::wstring(PathBuilder(nullptr, L"x", false).GetPath()), L"x");
}

TEST(PathBuilderJoin, ThreePartsSkipNullAndEmpty)
{
    PathBuilder pattern(L"C:\\ProgramData\\Korvane\\Vellocs", L"Volumes", L"{*}", nullptr, false);
    EXPECT_STREQ(pattern.GetPath(), L"C:\\ProgramData\\Korvane\\Vellocs\\Volumes\\{*}");
    PathBuilder nested(L"D:\\v", L"Volumes", L"", L"Metadata\\Settings\\LayerDef\\", false);
    EXPECT_STREQ(nested.GetPath(), L"D:\\v\\Volumes\\Metadata\\Settings\\LayerDef");
}

TEST(PathBuilderStorage, InputsUpTo254StayInlineAndLongerOnesGoToTheHeap)
{
    // Base of 250 and a name of 4: 254 characters of input in all.
    const std::wstring base(250, L'a');
    PathBuilder inlinePath(base.c_str(), L"bcde", false);
    EXPECT_FALSE(inlinePath.OwnsHeapText());
    EXPECT_EQ(inlinePath.Capacity(), 260);
    EXPECT_EQ(std::wstring(inlinePath.GetPath()), base + L"\\bcde");

    PathBuilder heapPath(base.c_str(), L"bcdef", false);
    EXPECT_TRUE(heapPath.OwnsHeapText());
    EXPECT_EQ(heapPath.Capacity(), 260);
    EXPECT_EQ(std::wstring(heapPath.GetPath()), base + L"\\bcdef");
    EXPECT_EQ(std::wstring(heapPath.GetLongPath()), L"\\\\?\\" + base + L"\\bcdef");

    // Every part given adds room for a separator even when it needs none.
    const std::wstring longBase(2000, L'x');
    PathBuilder big(longBase.c_str(), L"\\a\\", L"b", L"c", false);
    EXPECT_EQ(std::wstring(big.GetPath()), longBase + L"\\a\\b\\c");
    EXPECT_EQ(big.Capacity(), 2000 + 5 + 5);
}

TEST(PathBuilderLongForm, PrefixIsWrittenInFrontWithoutChangingThePlainPath)
{
    PathBuilder local(L"C:\\x", false);
    EXPECT_STREQ(local.GetLongPath(), L"\\\\?\\C:\\x");
    EXPECT_STREQ(local.GetPath(), L"C:\\x");
    EXPECT_EQ(local.GetLongPath() + 4, local.GetPath()); // no copy: the prefix sits in front

    PathBuilder already(L"\\\\?\\C:\\x", false);
    EXPECT_STREQ(already.GetLongPath(), L"\\\\?\\C:\\x");

    PathBuilder unc(L"\\\\srv\\share", L"x", false);
    EXPECT_STREQ(unc.GetLongPath(), L"\\\\?\\UNC\\srv\\share\\x");
    EXPECT_STREQ(unc.GetLongPath(), L"\\\\?\\UNC\\srv\\share\\x");
    EXPECT_STREQ(unc.GetPath(), L"\\\\srv\\share\\x");

    PathBuilder relative(L"rel", false);
    EXPECT_STREQ(relative.GetLongPath(), L"\\\\?\\rel");
    PathBuilder empty(L"", false);
    EXPECT_STREQ(empty.GetLongPath(), L"\\\\?\\");
}
