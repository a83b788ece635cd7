#include "SessionUser.h"

#include "AppTestSeams.h"
#include "UniqueHandles.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <atomic>
#include <memory>
#include <new>

using namespace Tallis::ImageUpdate;

namespace {

constexpr const wchar_t* kLocalSystemSid = L"S-1-5-18";

std::atomic<SessionFactsFn> g_factsSource{nullptr};

bool SameText(const std::wstring& a, const std::wstring& b) noexcept
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

DWORD LookupAccount(PSID sid, AccountName& account)
{
    DWORD nameChars = 0;
    DWORD domainChars = 0;
    SID_NAME_USE use;
    LookupAccountSidW(nullptr, sid, nullptr, &nameChars, nullptr, &domainChars, &use);
    const DWORD sizing = GetLastError();
    if (sizing != ERROR_INSUFFICIENT_BUFFER)
        return sizing;
    std::wstring name(nameChars, L'\0');
    std::wstring domain(domainChars, L'\0');
    if (!LookupAccountSidW(nullptr, sid, name.data(), &nameChars, domain.data(), &domainChars, &use))
        return GetLastError();
    // On success the counts leave out the terminating null.
    name.resize(nameChars);
    domain.resize(domainChars);
    account = {std::move(name), std::move(domain)};
    return 0;
}

DWORD ReadTokenUser(SessionFacts& facts)
{
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return GetLastError();
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    if (needed == 0)
        return GetLastError();
    std::unique_ptr<BYTE[]> buffer(new BYTE[needed]);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), needed, &needed))
        return GetLastError();
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return GetLastError();
    const unique_hlocal owner(text);
    facts.tokenSid = text;
    return LookupAccount(sid, facts.tokenUser);
}

// wtsapi32.dll is not one of the libraries Windows always takes from the system directory, so it
// is not imported: it is loaded from there alone, for the one question asked at start.
class SessionQuery {
public:
    [[nodiscard]] DWORD Load() noexcept
    {
        m_module.reset(LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!m_module)
            return GetLastError();
        m_query = reinterpret_cast<decltype(m_query)>(
            reinterpret_cast<void*>(GetProcAddress(m_module.get(), "WTSQuerySessionInformationW")));
        m_free = reinterpret_cast<decltype(m_free)>(
            reinterpret_cast<void*>(GetProcAddress(m_module.get(), "WTSFreeMemory")));
        return m_query && m_free ? 0 : DWORD(ERROR_PROC_NOT_FOUND);
    }

    [[nodiscard]] DWORD Text(WTS_INFO_CLASS what, std::wstring& text)
    {
        LPWSTR buffer = nullptr;
        DWORD bytes = 0;
        if (!m_query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &buffer, &bytes))
            return GetLastError();
        const std::unique_ptr<WCHAR, decltype(m_free)> owner(buffer, m_free);
        text = buffer ? buffer : L"";
        return 0;
    }

private:
    unique_hmodule m_module;
    decltype(&WTSQuerySessionInformationW) m_query = nullptr;
    decltype(&WTSFreeMemory) m_free = nullptr;
};

} // namespace

void SetSessionFactsForTest(SessionFactsFn source) noexcept
{
    g_factsSource.store(source);
}

SessionUser JudgeSessionUser(const SessionFacts& facts) noexcept
{
    // No person signs in as SYSTEM, whatever name a lookup gives it.
    if (SameText(facts.tokenSid, kLocalSystemSid))
        return SessionUser::LocalSystem;
    if (facts.tokenUser.name.empty())
        return SessionUser::Unknown;
    if (facts.sessionUser.name.empty())
        return SessionUser::Another;
    // The same name in another domain (a local account beside a domain one) is another person.
    return SameText(facts.tokenUser.name, facts.sessionUser.name) &&
                   SameText(facts.tokenUser.domain, facts.sessionUser.domain)
               ? SessionUser::Same
               : SessionUser::Another;
}

DWORD ReadSessionFacts(SessionFacts& facts) noexcept
{
    try {
        facts = SessionFacts{};
        if (const DWORD error = ReadTokenUser(facts))
            return error;
        SessionQuery session;
        if (const DWORD error = session.Load())
            return error;
        if (const DWORD error = session.Text(WTSUserName, facts.sessionUser.name))
            return error;
        return session.Text(WTSDomainName, facts.sessionUser.domain);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

SessionUser CurrentSessionUser() noexcept
{
    SessionFacts facts;
    const SessionFactsFn source = g_factsSource.load();
    if ((source ? source(facts) : ReadSessionFacts(facts)) != 0)
        return SessionUser::Unknown;
    return JudgeSessionUser(facts);
}
