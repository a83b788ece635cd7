#pragma once
// Chooses the language resource module: a resource-only library named after the program, found
// by the user's UI language, which then serves every string and the dialog template.
#include "UniqueHandles.h"

#include <windows.h>

#include <string>
#include <vector>

class CResourceManager {
public:
    explicit CResourceManager(HMODULE programModule);
    // Puts the program's own resources back and frees the language module.
    virtual ~CResourceManager();
    CResourceManager(const CResourceManager&) = delete;
    CResourceManager& operator=(const CResourceManager&) = delete;

    // First loadable candidate wins: folders of GetResourceFolders, in each the names
    // <base>UI_<locale>.dll, <base>UI_<language>.dll, <base>UI.dll.
    void LoadLanguageModule();

    [[nodiscard]] bool HasLanguageModule() const noexcept { return m_languageModule.is_valid(); }
    // The file that was loaded; empty when the program's own resources are in use.
    [[nodiscard]] const std::wstring& GetLanguageModulePath() const noexcept { return m_languageModulePath; }
    [[nodiscard]] const std::wstring& GetProgramFolder() const noexcept { return m_programFolder; }
    // One line for each string of the module that is not used (for the run's log).
    [[nodiscard]] const std::vector<std::wstring>& GetWarnings() const noexcept { return m_warnings; }

    // The module's folder with its final backslash; empty when unknown.
    [[nodiscard]] static std::wstring GetModuleFolder(HMODULE module);
    // language-COUNTRY of the UI language when both two-letter names exist; else text is unchanged.
    static bool GetUILocaleName(std::wstring& text);
    // The two-letter language of the UI language, or "en".
    [[nodiscard]] static std::wstring GetUILanguageName();
    // Resource\locale, Resource\language, Resource (when Resource exists), then locale, language
    // and the folder itself (when it exists).
    [[nodiscard]] static std::vector<std::wstring> GetResourceFolders(const std::wstring& programFolder,
                                                                      const std::wstring& locale,
                                                                      const std::wstring& language);

private:
    std::wstring m_programFolder;
    HMODULE m_programModule;
    Tallis::ImageUpdate::unique_hmodule m_languageModule;
    std::wstring m_languageModulePath;
    std::vector<std::wstring> m_warnings;
};
