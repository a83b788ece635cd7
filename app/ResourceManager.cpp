#include "ResourceManager.h"

#include "ResourceStrings.h"

#include <shlwapi.h>

using Tallis::ImageUpdate::GetResourceModule;
using Tallis::ImageUpdate::SetResourceModule;
using Tallis::ImageUpdate::SwitchToLanguageModule;

namespace {

constexpr DWORD kModulePathChars = MAX_PATH + 1;

// PathCombineW into a MAX_PATH buffer; empty when the result does not fit.
std::wstring Combine(const std::wstring& folder, const std::wstring& name)
{
    wchar_t combined[MAX_PATH] = {};
    if (!PathCombineW(combined, folder.c_str(), name.c_str()))
        return {};
    return combined;
}

} // namespace

CResourceManager::CResourceManager(HMODULE programModule)
    : m_programFolder(GetModuleFolder(programModule)), m_programModule(programModule)
{
}

CResourceManager::~CResourceManager()
{
    if (m_languageModule) {
        if (GetResourceModule() != m_programModule)
            SetResourceModule(m_programModule);
        m_languageModule.reset();
    }
}

std::wstring CResourceManager::GetModuleFolder(HMODULE module)
{
    wchar_t path[kModulePathChars] = {};
    const DWORD length = GetModuleFileNameW(module, path, kModulePathChars);
    if (length == 0 || length >= kModulePathChars)
        return {};
    wchar_t* lastSeparator = wcsrchr(path, L'\\');
    if (!lastSeparator)
        return {};
    lastSeparator[1] = L'\0';
    return path;
}

bool CResourceManager::GetUILocaleName(std::wstring& text)
{
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    // Three characters hold a two-letter name; a longer one makes the call fail.
    wchar_t language[3] = {};
    wchar_t country[3] = {};
    if (GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, language, 3) == 0)
        return false;
    if (GetLocaleInfoW(locale, LOCALE_SISO3166CTRYNAME, country, 3) == 0)
        return false;
    text = std::wstring(language) + L"-" + country;
    return true;
}

std::wstring CResourceManager::GetUILanguageName()
{
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    wchar_t language[3] = {};
    if (GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, language, 3) == 0)
        return L"en";
    return language;
}

std::vector<std::wstring> CResourceManager::GetResourceFolders(const std::wstring& programFolder,
                                                               const std::wstring& locale,
                                                               const std::wstring& language)
{
    std::vector<std::wstring> folders;
    const std::wstring resourceFolder = Combine(programFolder, L"Resource");
    if (!resourceFolder.empty() && PathIsDirectoryW(resourceFolder.c_str())) {
        folders.push_back(Combine(resourceFolder, locale));
        folders.push_back(Combine(resourceFolder, language));
        folders.push_back(resourceFolder);
    }
    if (!programFolder.empty() && PathIsDirectoryW(programFolder.c_str())) {
        folders.push_back(Combine(programFolder, locale));
        folders.push_back(Combine(programFolder, language));
        folders.push_back(programFolder);
    }
    return folders;
}

void CResourceManager::LoadLanguageModule()
{
    wchar_t baseName[kModulePathChars] = {};
    const DWORD length = GetModuleFileNameW(m_programModule, baseName, kModulePathChars);
    if (length == 0 || length >= kModulePathChars)
        return;
    PathStripPathW(baseName);
    PathRemoveExtensionW(baseName);

    std::wstring locale = L"en-US";
    (void)GetUILocaleName(locale);
    const std::wstring language = GetUILanguageName();

    const std::wstring base = baseName;
    const std::wstring candidates[] = {
        base + L"UI_" + locale + L".dll",
        base + L"UI_" + language + L".dll",
        base + L"UI.dll",
    };
    for (const std::wstring& folder : GetResourceFolders(m_programFolder, locale, language)) {
        if (folder.empty())
            continue;
        for (const std::wstring& name : candidates) {
            const std::wstring path = Combine(folder, name);
            if (path.empty())
                continue;
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            // As a data file: its resources become readable and none of its code runs.
            HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (!module)
                continue;
            m_languageModule.reset(module);
            m_languageModulePath = path;
            // Its texts are format texts: one that would read other arguments is not used.
            for (const UINT id : SwitchToLanguageModule(module)) {
                m_warnings.push_back(L"The language module " + path + L" gives string " + std::to_wstring(id) +
                                     L" other format fields than the program's own text, which is used instead");
            }
            return;
        }
    }
}
