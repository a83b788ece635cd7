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
