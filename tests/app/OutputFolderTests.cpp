// Naming and claiming the output folder inside a base folder.
#include "BaseFolder.h"
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
    static DWORD Check(const std::wstring& base, bool elevated, std::wstring& problem)
    {
        BaseFolder folder(elevated);
        return folder.Check(base, problem);
    }
    static void MakeLink(const std::wstring& target, const std::wstring& link)
    {
        ASSERT_EQ(kvotest::RunUnixShell("ln -s '" + kvotest::UnixPath(target) + "' '" + kvotest::UnixPath(link) + "'"),
                  0);
    }
    static void OpenToOthers(const std::wstring& folder)
    {
        ASSERT_EQ(kvotest::RunUnixShell("chmod 777 '" + kvotest::UnixPath(folder) + "'"), 0);
    }

    kvotest::ScratchFolder m_scratch{L"claim"};
};

TEST_F(OutputFolderClaim, TheFolderAndABaseItMakesAreNewAndPrivate)
{
    RunRequest request;
    request.baseFolder = m_scratch / L"made\\by\\the tool";
    request.seconds = 77;
    const std::wstring& base = request.baseFolder;
    BaseFolder folder(true);
    std::wstring problem;
    ASSERT_EQ(folder.Check(base, problem), 0u) << kvotest::Narrow(problem);
    ClaimedFolder claimed;
    ASSERT_EQ(folder.Claim(request, claimed, problem), 0u) << kvotest::Narrow(problem);
    EXPECT_EQ(claimed.path, base + L"\\VellocsDiag_77");
    EXPECT_TRUE(claimed.handle.is_valid());
    for (const std::wstring& path : {claimed.path, base, m_scratch / L"made\\by", m_scratch / L"made"})
        EXPECT_TRUE(kvotest::OthersHaveNoAccess(path)) << kvotest::Narrow(path);

    ClaimedFolder second;
    ASSERT_EQ(folder.Claim(request, second, problem), 0u);
    EXPECT_EQ(second.path, base + L"\\VellocsDiag_77_2");
}

TEST_F(OutputFolderClaim, ABaseThatIsALinkIsRefusedNamingWhereItLeads)
{
    const std::wstring target = m_scratch / L"target";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const std::wstring link = m_scratch / L"link";
    MakeLink(target, link);
    for (const bool elevated : {false, true}) {
        std::wstring problem;
        EXPECT_NE(Check(link, elevated, problem), 0u);
        EXPECT_NE(problem.find(link + L" is a link to "), std::wstring::npos) << kvotest::Narrow(problem);
        EXPECT_NE(problem.find(L"target"), std::wstring::npos) << kvotest::Narrow(problem);
    }
    std::wstring problem;
    EXPECT_EQ(Check(target, true, problem), 0u) << kvotest::Narrow(problem);
    EXPECT_EQ(Check(m_scratch / L"missing", true, problem), 0u);
    kvotest::RemoveTree(link);
}

// Wine reads mode 777 back as an Everyone entry with write rights.
TEST_F(OutputFolderClaim, ABaseOthersMayChangeIsRefusedOnlyWhenElevated)
{
    const std::wstring shared = m_scratch / L"shared";
    ASSERT_TRUE(CreateDirectoryW(shared.c_str(), nullptr));
    OpenToOthers(shared);
    std::wstring problem;
    EXPECT_NE(Check(shared, true, problem), 0u);
    EXPECT_NE(problem.find(L"Everyone"), std::wstring::npos) << kvotest::Narrow(problem);
    EXPECT_NE(problem.find(L"a new one that the tool creates itself, for example " + BaseFolder::SuggestedBase()),
              std::wstring::npos)
        << kvotest::Narrow(problem);
    EXPECT_EQ(Check(shared, false, problem), 0u);

    ASSERT_EQ(kvotest::RunUnixShell("chmod 755 '" + kvotest::UnixPath(shared) + "'"), 0);
    EXPECT_EQ(Check(shared, true, problem), 0u) << "reading is no change: " << kvotest::Narrow(problem);
}

// The suggested base itself, made by another account: suggesting it again would not help.
TEST_F(OutputFolderClaim, ARefusedSuggestedBaseIsToBeRemovedFirst)
{
    const std::wstring suggested = BaseFolder::SuggestedBase();
    ASSERT_FALSE(kvotest::FolderExists(suggested)) << "left over: " << kvotest::Narrow(suggested);
    ASSERT_TRUE(CreateDirectoryW(suggested.c_str(), nullptr));
    OpenToOthers(suggested);
    std::wstring problem;
    const DWORD error = Check(suggested, true, problem);
    kvotest::RemoveTree(suggested);
    EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_NE(problem.find(L"Remove it first"), std::wstring::npos) << kvotest::Narrow(problem);
    EXPECT_EQ(problem.find(L"for example"), std::wstring::npos) << kvotest::Narrow(problem);
}

// A base that another account makes between the check (which found none) and the claim is checked
// as an existing one, never taken as the tool's own.
TEST_F(OutputFolderClaim, ABaseThatAppearsBetweenCheckAndClaimIsCheckedAsAnExistingOne)
{
    RunRequest request;
    request.seconds = 5;
    for (const bool asLink : {false, true}) {
        SCOPED_TRACE(asLink ? "a link" : "a folder others may change");
        request.baseFolder = m_scratch / (asLink ? L"planted-link\\base" : L"planted\\base");
        const std::wstring parent = request.baseFolder.substr(0, request.baseFolder.rfind(L'\\'));
        const std::wstring elsewhere = m_scratch / (asLink ? L"elsewhere-link" : L"elsewhere");
        BaseFolder folder(true);
        std::wstring problem;
        ASSERT_EQ(folder.Check(request.baseFolder, problem), 0u);
        ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
        if (asLink) {
            MakeLink(elsewhere, parent);
        } else {
            ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
            OpenToOthers(parent);
        }
        ClaimedFolder claimed;
        EXPECT_NE(folder.Claim(request, claimed, problem), 0u);
        EXPECT_NE(problem.find(parent), std::wstring::npos) << kvotest::Narrow(problem);
        EXPECT_FALSE(claimed.handle.is_valid());
        EXPECT_TRUE(kvotest::ListTree(elsewhere).empty());
        if (!asLink) {
            EXPECT_TRUE(kvotest::ListTree(parent).empty());
        }
        kvotest::RemoveTree(parent);
    }
}

// The claim goes through the handle of the folder that was checked: a base renamed and replaced
// in between still receives the output, and the replacement gets nothing.
TEST_F(OutputFolderClaim, ABaseSwappedBetweenCheckAndClaimCannotRedirectTheOutput)
{
    RunRequest request;
    request.baseFolder = m_scratch / L"base";
    request.seconds = 9;
    ASSERT_TRUE(CreateDirectoryW(request.baseFolder.c_str(), nullptr));
    BaseFolder folder(false);
    std::wstring problem;
    ASSERT_EQ(folder.Check(request.baseFolder, problem), 0u);
    ASSERT_TRUE(MoveFileW(request.baseFolder.c_str(), (m_scratch / L"checked").c_str())) << GetLastError();
    ASSERT_TRUE(CreateDirectoryW(request.baseFolder.c_str(), nullptr));

    ClaimedFolder claimed;
    ASSERT_EQ(folder.Claim(request, claimed, problem), 0u) << kvotest::Narrow(problem);
    EXPECT_TRUE(kvotest::FolderExists(m_scratch / L"checked\\VellocsDiag_9"));
    EXPECT_TRUE(kvotest::ListTree(request.baseFolder).empty());
}

TEST_F(OutputFolderClaim, TheClaimedFolderCannotBeRenamedWhileTheRunHoldsIt)
{
    RunRequest request;
    request.baseFolder = m_scratch.Path();
    request.seconds = 3;
    BaseFolder folder(false);
    std::wstring problem;
    ASSERT_EQ(folder.Check(request.baseFolder, problem), 0u);
    ClaimedFolder claimed;
    ASSERT_EQ(folder.Claim(request, claimed, problem), 0u);
    const std::wstring away = m_scratch / L"away";
    EXPECT_FALSE(MoveFileW(claimed.path.c_str(), away.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    kvotest::WriteFileBytes(claimed.path + L"\\inside.txt", "written while held");
    EXPECT_TRUE(kvotest::FileExists(claimed.path + L"\\inside.txt"));

    claimed.handle.reset();
    EXPECT_TRUE(MoveFileW(claimed.path.c_str(), away.c_str())) << GetLastError();
}
