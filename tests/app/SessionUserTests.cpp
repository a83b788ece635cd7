// Whether the program runs as the session's own user: the decision on constructed facts, and the
// facts this process reads under Wine, whose session names the running user.
#include "SessionUser.h"

#include "AppTestSeams.h"
#include "PrivateSecurity.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <lmcons.h>

namespace {

constexpr const wchar_t* kUserSid = L"S-1-5-21-1004336348-1177238915-682003330-1001";

SessionFacts Facts(const wchar_t* tokenName, const wchar_t* tokenDomain, const wchar_t* sessionName,
                   const wchar_t* sessionDomain, const wchar_t* tokenSid = kUserSid)
{
    SessionFacts facts;
    facts.tokenSid = tokenSid;
    facts.tokenUser = {tokenName, tokenDomain};
    facts.sessionUser = {sessionName, sessionDomain};
    return facts;
}

TEST(SessionUserJudgement, TheSameAccountInAnyCaseIsTheSessionsUser)
{
    EXPECT_EQ(JudgeSessionUser(Facts(L"anna", L"CONTOSO", L"anna", L"CONTOSO")), SessionUser::Same);
    EXPECT_EQ(JudgeSessionUser(Facts(L"Anna", L"contoso", L"ANNA", L"Contoso")), SessionUser::Same);
    EXPECT_EQ(JudgeSessionUser(Facts(L"J\u00FCrgen", L"WS01", L"J\u00DCRGEN", L"ws01")), SessionUser::Same);
    EXPECT_TRUE(MayUseShellWindows(SessionUser::Same));
}

TEST(SessionUserJudgement, AnotherNameOrDomainOrNobodySignedInIsAnotherPerson)
{
    // A helpdesk administrator's credentials typed into the elevation prompt at the user's desk.
    EXPECT_EQ(JudgeSessionUser(Facts(L"helpdesk-admin", L"CONTOSO", L"anna", L"CONTOSO")), SessionUser::Another);
    // A local account of the same name as the domain user.
    EXPECT_EQ(JudgeSessionUser(Facts(L"anna", L"WS01", L"anna", L"CONTOSO")), SessionUser::Another);
    // A prefix is not the name.
    EXPECT_EQ(JudgeSessionUser(Facts(L"ann", L"CONTOSO", L"anna", L"CONTOSO")), SessionUser::Another);
    EXPECT_EQ(JudgeSessionUser(Facts(L"anna", L"CONTOSO", L"", L"")), SessionUser::Another);
    EXPECT_FALSE(MayUseShellWindows(SessionUser::Another));
}

TEST(SessionUserJudgement, LocalSystemIsNeverTheSessionsUser)
{
    // Whatever the lookups say, even a session "user" that reads as SYSTEM.
    EXPECT_EQ(JudgeSessionUser(Facts(L"SYSTEM", L"NT AUTHORITY", L"anna", L"CONTOSO", L"S-1-5-18")),
              SessionUser::LocalSystem);
    EXPECT_EQ(JudgeSessionUser(Facts(L"SYSTEM", L"NT AUTHORITY", L"SYSTEM", L"NT AUTHORITY", L"S-1-5-18")),
              SessionUser::LocalSystem);
    EXPECT_EQ(JudgeSessionUser(Facts(L"", L"", L"", L"", L"S-1-5-18")), SessionUser::LocalSystem);
    EXPECT_FALSE(MayUseShellWindows(SessionUser::LocalSystem));
}

TEST(SessionUserJudgement, AnUnreadableTokenNameIsNotTakenForTheSessionsUser)
{
    EXPECT_EQ(JudgeSessionUser(Facts(L"", L"", L"", L"")), SessionUser::Unknown);
    EXPECT_EQ(JudgeSessionUser(Facts(L"", L"CONTOSO", L"anna", L"CONTOSO")), SessionUser::Unknown);
    EXPECT_FALSE(MayUseShellWindows(SessionUser::Unknown));
}

TEST(SessionUserJudgement, FactsThatCannotBeReadKeepTheShellWindowsClosed)
{
    SetSessionFactsForTest([](SessionFacts& facts) -> DWORD {
        facts = Facts(L"anna", L"CONTOSO", L"anna", L"CONTOSO");
        return ERROR_ACCESS_DENIED;
    });
    const SessionUser user = CurrentSessionUser();
    SetSessionFactsForTest(nullptr);
    EXPECT_EQ(user, SessionUser::Unknown);
}

// Wine's session names the running user, so the real check finds the same user there.
TEST(SessionUserUnderWine, TheRealFactsNameThisProcessesUserAsTheSessionsUser)
{
    SessionFacts facts;
    ASSERT_EQ(ReadSessionFacts(facts), 0u);
    std::wstring sid;
    ASSERT_EQ(Tallis::ImageUpdate::CurrentAccountSid(sid), 0u);
    EXPECT_EQ(facts.tokenSid, sid);
    wchar_t user[UNLEN + 1] = {};
    DWORD userChars = UNLEN + 1;
    ASSERT_TRUE(GetUserNameW(user, &userChars));
    EXPECT_EQ(facts.tokenUser.name, user);
    EXPECT_EQ(facts.sessionUser.name, user);
    EXPECT_FALSE(facts.tokenUser.domain.empty());
    EXPECT_EQ(facts.sessionUser.domain, facts.tokenUser.domain);
    EXPECT_EQ(JudgeSessionUser(facts), SessionUser::Same);
    EXPECT_EQ(CurrentSessionUser(), SessionUser::Same);
}

} // namespace
