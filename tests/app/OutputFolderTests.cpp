// Naming and claiming the output folder inside a base folder.
#include "OutputFolder.h"
#include "TestSupport.h"

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

// The claim and the check of the base, on real folders of the app prefix.
class OutputFolderClaim : public ::testing::Test {
protected:
    kvotest::ScratchFolder m_scratch{L"claim"};
};

TEST_F(OutputFolderClaim, TheFolderAndABaseItMakesAreNewAndPrivate)
{
    RunRequest request;
    request.baseFolder = m_scratch / L"made\\by\\the tool";
    request.seconds = 77;
    const std::wstring& base = request.baseFolder;
    std::wstring folder;
    ASSERT_EQ(ClaimOutputFolder(request, folder), 0u);
    EXPECT_EQ(folder, base + L"\\VellocsDiag_77");
    for (const std::wstring& path : {folder, base, m_scratch / L"made\\by", m_scratch / L"made"})
        EXPECT_TRUE(kvotest::OthersHaveNoAccess(path)) << kvotest::Narrow(path);

    std::wstring second;
    ASSERT_EQ(ClaimOutputFolder(request, second), 0u);
    EXPECT_EQ(second, base + L"\\VellocsDiag_77_2");
}

TEST_F(OutputFolderClaim, ABaseThatIsALinkIsRefusedNamingWhereItLeads)
{
    const std::wstring target = m_scratch / L"target";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const std::wstring link = m_scratch / L"link";
    ASSERT_EQ(kvotest::RunUnixShell("ln -s '" + kvotest::UnixPath(target) + "' '" + kvotest::UnixPath(link) + "'"), 0);
    for (const bool elevated : {false, true}) {
        std::wstring problem;
        EXPECT_NE(CheckBaseFolder(link, elevated, problem), 0u);
        EXPECT_NE(problem.find(link + L" is a link to "), std::wstring::npos) << kvotest::Narrow(problem);
        EXPECT_NE(problem.find(L"target"), std::wstring::npos) << kvotest::Narrow(problem);
    }
    std::wstring problem;
    EXPECT_EQ(CheckBaseFolder(target, true, problem), 0u) << kvotest::Narrow(problem);
    EXPECT_EQ(CheckBaseFolder(m_scratch / L"missing", true, problem), 0u);
    kvotest::RemoveTree(link);
}

// Wine reads mode 777 back as an Everyone entry with write rights.
TEST_F(OutputFolderClaim, ABaseOthersMayChangeIsRefusedOnlyWhenElevated)
{
    const std::wstring shared = m_scratch / L"shared";
    ASSERT_TRUE(CreateDirectoryW(shared.c_str(), nullptr));
    ASSERT_EQ(kvotest::RunUnixShell("chmod 777 '" + kvotest::UnixPath(shared) + "'"), 0);
    std::wstring problem;
    EXPECT_NE(CheckBaseFolder(shared, true, problem), 0u);
    EXPECT_NE(problem.find(L"Everyone"), std::wstring::npos) << kvotest::Narrow(problem);
    EXPECT_NE(problem.find(L"a new one that the tool creates itself"), std::wstring::npos);
    EXPECT_EQ(CheckBaseFolder(shared, false, problem), 0u);

    ASSERT_EQ(kvotest::RunUnixShell("chmod 755 '" + kvotest::UnixPath(shared) + "'"), 0);
    EXPECT_EQ(CheckBaseFolder(shared, true, problem), 0u) << "reading is no change: " << kvotest::Narrow(problem);
}
