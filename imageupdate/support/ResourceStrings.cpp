#include "ResourceStrings.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>

namespace Tallis::ImageUpdate {
namespace {

std::atomic<HMODULE> g_resourceModule{nullptr};
// Strings of the language module that are not used: written at the switch, read by every load.
std::mutex g_distrustedLock;
std::vector<UINT> g_distrusted;

HMODULE ProgramModule() noexcept
{
    return GetModuleHandleW(nullptr);
}

// With a zero buffer size LoadStringW hands out a pointer to the resource text itself, which is
// not terminated: take it with its length. An empty string counts as missing.
bool LoadFrom(HMODULE module, UINT id, std::wstring& text)
{
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(module, id, reinterpret_cast<wchar_t*>(&resource), 0);
    if (length <= 0 || !resource)
        return false;
    text.assign(resource, size_t(length));
    return true;
}

bool IsDistrusted(UINT id)
{
    std::lock_guard<std::mutex> lock(g_distrustedLock);
    return std::find(g_distrusted.begin(), g_distrusted.end(), id) != g_distrusted.end();
}

BOOL CALLBACK CollectStringBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) noexcept
{
    // String blocks are numbered from 1 and hold the ids 16 * (block - 1) to 16 * block - 1.
    if (IS_INTRESOURCE(name)) {
        try {
            reinterpret_cast<std::vector<UINT>*>(context)->push_back(UINT(reinterpret_cast<ULONG_PTR>(name)));
        } catch (...) {
            return FALSE;
        }
    }
    return TRUE;
}

size_t SkipDigits(const std::wstring& text, size_t at)
{
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9')
        ++at;
    return at;
}

// From just behind a '%': flags, width, precision, size and type, as the token that decides the
// arguments; at is left behind the conversion.
std::wstring ReadConversion(const std::wstring& text, size_t& at)
{
    std::wstring token;
    while (at < text.size() && wcschr(L"-+ #0", text[at]) && text[at] != L'\0')
        ++at;
    if (at < text.size() && text[at] == L'*') {
        token += L'*';
        ++at;
    } else {
        at = SkipDigits(text, at);
    }
    if (at < text.size() && text[at] == L'.') {
        ++at;
        if (at < text.size() && text[at] == L'*') {
            token += L".*";
            ++at;
        } else {
            at = SkipDigits(text, at);
        }
    }
    for (const wchar_t* size : {L"I64", L"I32", L"ll", L"hh", L"I", L"l", L"h", L"w", L"L", L"z", L"j", L"t"}) {
        const size_t length = wcslen(size);
        if (text.compare(at, length, size) == 0) {
            token += size;
            at += length;
            break;
        }
    }
    if (at < text.size())
        token += text[at++];
    return token;
}

} // namespace

HMODULE GetResourceModule() noexcept
{
    HMODULE module = g_resourceModule.load();
    return module ? module : ProgramModule();
}

void SetResourceModule(HMODULE module) noexcept
{
    std::lock_guard<std::mutex> lock(g_distrustedLock);
    g_distrusted.clear();
    g_resourceModule.store(module);
}

std::vector<UINT> SwitchToLanguageModule(HMODULE module)
{
    std::vector<UINT> blocks;
    EnumResourceNamesW(ProgramModule(), RT_STRING, &CollectStringBlock, reinterpret_cast<LONG_PTR>(&blocks));
    std::vector<UINT> mismatched;
    for (const UINT block : blocks) {
        for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
            std::wstring own;
            std::wstring translated;
            if (!LoadFrom(ProgramModule(), id, own) || !LoadFrom(module, id, translated))
                continue;
            if (FormatConversions(own) != FormatConversions(translated))
                mismatched.push_back(id);
        }
    }
    std::lock_guard<std::mutex> lock(g_distrustedLock);
    g_distrusted = mismatched;
    g_resourceModule.store(module);
    return mismatched;
}

std::wstring LoadResourceString(UINT id)
{
    const HMODULE module = GetResourceModule();
    std::wstring text;
    if (!LoadFrom(module, id, text))
        throw StringLoadError();
    // A translation that would read other arguments than the program passes is not used.
    if (module != ProgramModule() && IsDistrusted(id) && !LoadFrom(ProgramModule(), id, text))
        throw StringLoadError();
    return text;
}

std::vector<std::wstring> FormatConversions(const std::wstring& format)
{
    std::vector<std::wstring> conversions;
    for (size_t at = 0; at < format.size(); ++at) {
        if (format[at] != L'%')
            continue;
        ++at;
        if (at < format.size() && format[at] == L'%')
            continue;
        conversions.push_back(ReadConversion(format, at));
        --at; // the loop steps over the character behind the conversion itself
    }
    return conversions;
}

} // namespace Tallis::ImageUpdate
