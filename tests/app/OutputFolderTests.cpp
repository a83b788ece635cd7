// Naming of the output folder inside a base folder.
#include "OutputFolder.h"

#include <gtest/gtest.h>


TEST(OutputFolderTest, JoinsBaseAndTimeStampedName)
{
    EXPECT_EQ(MakeOutputFolder(L"D:\\Data", 1457355900), L"D:\\Data\\VellocsDiag_1457355900");
    EXPECT_EQ(MakeOutputFolder(L"C:\\Users\\u\\Desktop", 7), L"C:\\Users\\u\\Desktop\\VellocsDiag_7");
}

TEST(OutputFolderTest, DriveRootGetsOneSeparator)
{
    EXPECT_EQ(MakeOutputFolder(L"D:\\", 1457355900), L"D:\\VellocsDiag_1457355900");
}

TEST(OutputFolderTest, EmptyBaseLeavesARelativeName)
{
    EXPECT_EQ(MakeOutputFolder(L"", 42), L"VellocsDiag_42");
    EXPECT_EQ(MakeOutputFolder(nullptr, 42), L"VellocsDiag_42");
}

TEST(OutputFolderTest, SecondsAreSignedThirtyTwoBit)
{
    EXPECT_EQ(MakeOutputFolder(L"D:\\Data", INT32(0x7FFFFFFF)), L"D:\\Data\\VellocsDiag_2147483647");
    EXPECT_EQ(MakeOutputFolder(L"D:\\Data", INT32(-2147483647 - 1)), L"D:\\Data\\VellocsDiag_-2147483648");
}
