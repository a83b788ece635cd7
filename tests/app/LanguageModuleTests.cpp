// Choice of the language module with copies of the built German module in scratch folders. The
// "program" is a copy loaded from the scratch folder, so its folder and base name ("Tool") are the
// test's. These cases run in a process whose UI language is German (LanguageModule*) or Filipino,
// whose ISO 639 name has three letters (ThreeLetterLanguage*).
#include "ResourceManager.h"

#include "AppDriver.h"
#include "ResourceStrings.h"
#include "TestSupport.h"
#include "UniqueHandles.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Tallis::ImageUpdate::GetResourceModule;
using Tallis::ImageUpdate::LoadResourceString;
using Tallis::ImageUpdate::unique_hmodule;

namespace {

std::wstring BuiltGermanModule()
{
    return kvoapp::WinePath(kvotest::Narrow(kvotest::GetEnv(L"KVO_BINARY_DIR")) +
                            "/app/Resource/de/KvoVellocsDiagUI_de.dll");
}

class LanguageFixture : public ::testing::Test {
protected:
    explicit LanguageFixture(const wchar_t* scratchName) : m_scratch(scratchName) {}

    void SetUp() override
    {
        m_germanBytes = kvotest::ReadFileBytes(BuiltGermanModule());
        ASSERT_FALSE(m_germanBytes.empty()) << "German module not built";
        const std::wstring program = m_scratch / L"Tool.dll";
        kvotest::WriteFileBytes(program, m_germanBytes);
        m_program.reset(LoadLibraryW(program.c_str()));
        ASSERT_TRUE(m_program) << GetLastError();
        Tallis::ImageUpdate::SetResourceModule(nullptr);
    }

    void TearDown() override { Tallis::ImageUpdate::SetResourceModule(nullptr); }

    // A copy of the German module at a path relative to the program folder.
    void PlaceModule(const std::wstring& relative)
    {
        MakeFoldersFor(relative);
        kvotest::WriteFileBytes(m_scratch / relative, m_germanBytes);
    }

    void MakeFoldersFor(const std::wstring& relative)
    {
        for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1))
            CreateDirectoryW((m_scratch / relative.substr(0, at)).c_str(), nullptr);
    }

    // The chosen module's path relative to the program folder, "" when none. The manager switches
    // the resource module only when it loads one, and puts the program's back when it ends.
    std::wstring Choose()
    {
        const HMODULE before = GetResourceModule();
        std::wstring chosen;
        {
            CResourceManager manager(m_program.get());
            manager.LoadLanguageModule();
            if (!manager.HasLanguageModule()) {
                EXPECT_EQ(GetResourceModule(), before);
                return L"";
            }
            EXPECT_NE(GetResourceModule(), before);
            EXPECT_NE(GetResourceModule(), m_program.get());
            chosen = manager.GetLanguageModulePath();
        }
        EXPECT_EQ(GetResourceModule(), m_program.get());
        const std::wstring prefix = m_scratch.Path() + L"\\";
        return chosen.rfind(prefix, 0) == 0 ? chosen.substr(prefix.size()) : chosen;
    }

    kvotest::ScratchFolder m_scratch;
    std::string m_germanBytes;
    unique_hmodule m_program;
};

class LanguageModuleTest : public LanguageFixture {
protected:
    LanguageModuleTest() : LanguageFixture(L"app-language") {}
};

TEST_F(LanguageModuleTest, UiLanguageOfThisProcessIsGermanGermany)
{
    std::wstring locale = L"en-US";
    EXPECT_TRUE(CResourceManager::GetUILocaleName(locale));
    EXPECT_EQ(locale, L"de-DE");
    EXPECT_EQ(CResourceManager::GetUILanguageName(), L"de");
}

TEST_F(LanguageModuleTest, ProgramFolderEndsWithItsBackslash)
{
    EXPECT_EQ(CResourceManager::GetModuleFolder(m_program.get()), m_scratch.Path() + L"\\");
    CResourceManager manager(m_program.get());
    EXPECT_EQ(manager.GetProgramFolder(), m_scratch.Path() + L"\\");
}

TEST_F(LanguageModuleTest, FoldersInOrderWithAndWithoutResourceFolder)
{
    const std::wstring folder = m_scratch.Path() + L"\\";
    const std::wstring base = m_scratch.Path();
    EXPECT_EQ(CResourceManager::GetResourceFolders(folder, L"de-DE", L"de"),
              (std::vector<std::wstring>{base + L"\\de-DE", base + L"\\de", folder}));
    CreateDirectoryW((m_scratch / L"Resource").c_str(), nullptr);
    EXPECT_EQ(CResourceManager::GetResourceFolders(folder, L"de-DE", L"de"),
              (std::vector<std::wstring>{base + L"\\Resource\\de-DE", base + L"\\Resource\\de", base + L"\\Resource",
                                         base + L"\\de-DE", base + L"\\de", folder}));
    EXPECT_TRUE(CResourceManager::GetResourceFolders(m_scratch / L"missing", L"de-DE", L"de").empty());
}

TEST_F(LanguageModuleTest, NoModuleKeepsTheProgramsOwnResources)
{
    EXPECT_EQ(Choose(), L"");
    EXPECT_EQ(LoadResourceString(IDS_REPORT_SUCCEEDED), L"Vellocs diagnostic report successfully generated");
}

TEST_F(LanguageModuleTest, ModuleInResourceLanguageFolderWinsOverOneNextToTheProgram)
{
    PlaceModule(L"ToolUI_de-DE.dll");
    PlaceModule(L"Resource\\de\\ToolUI.dll");
    EXPECT_EQ(Choose(), L"Resource\\de\\ToolUI.dll");
}

TEST_F(LanguageModuleTest, ChosenModuleServesStringsUntilTheManagerEnds)
{
    PlaceModule(L"Resource\\de\\ToolUI_de.dll");
    {
        CResourceManager manager(m_program.get());
        manager.LoadLanguageModule();
        ASSERT_TRUE(manager.HasLanguageModule());
        EXPECT_EQ(LoadResourceString(IDS_REPORT_SUCCEEDED), L"Der Vellocs-Diagnosebericht wurde erfolgreich erstellt");
        EXPECT_EQ(LoadResourceString(IDS_SELECT_AN_OPTION).find(L"w\u00E4hlen"), 6u);
    }
    EXPECT_EQ(GetResourceModule(), m_program.get());
}

// The reason Browse is off and the folder named in the final box, translated.
TEST_F(LanguageModuleTest, GermanModuleCarriesTheTextsOfARunInAnotherSession)
{
    PlaceModule(L"Resource\\de\\ToolUI_de.dll");
    CResourceManager manager(m_program.get());
    manager.LoadLanguageModule();
    ASSERT_TRUE(manager.HasLanguageModule());
    EXPECT_EQ(LoadResourceString(IDS_BROWSE_UNAVAILABLE).rfind(L"Durchsuchen gesperrt:", 0), 0u);
    EXPECT_EQ(LoadResourceString(IDS_REPORT_FOLDER), L"Der Bericht liegt in diesem Ordner:");
    EXPECT_TRUE(manager.GetWarnings().empty());
}

// A translation is a format text: one that reads other arguments than the program passes is not
// used, and the run's log is told once.
TEST_F(LanguageModuleTest, AStringWithOtherFormatFieldsIsTakenFromTheProgram)
{
    const std::string bad = kvotest::ReadFileBytes(
        kvoapp::WinePath(kvotest::Narrow(kvotest::GetEnv(L"KVO_BINARY_DIR")) + "/tests/app/KvoTestBadFormatUI.dll"));
    ASSERT_FALSE(bad.empty());
    MakeFoldersFor(L"Resource\\de\\ToolUI_de.dll");
    kvotest::WriteFileBytes(m_scratch / L"Resource\\de\\ToolUI_de.dll", bad);
    {
        CResourceManager manager(m_program.get());
        manager.LoadLanguageModule();
        ASSERT_TRUE(manager.HasLanguageModule());
        EXPECT_EQ(LoadResourceString(IDS_NOT_ENOUGH_SPACE).rfind(L"There is not enough free space on %s", 0), 0u);
        EXPECT_EQ(LoadResourceString(IDS_ITEMS_NOT_COLLECTED), L"%u Elemente konnten nicht gesammelt werden.");
        EXPECT_EQ(LoadResourceString(IDS_STATUS_PREFIX), L"Zustand: ");
        ASSERT_EQ(manager.GetWarnings().size(), 1u);
        EXPECT_NE(manager.GetWarnings()[0].find(L"gives string 117 other format fields"), std::wstring::npos)
            << kvotest::Narrow(manager.GetWarnings()[0]);
    }
    // The program's own module is trusted as it is again.
    EXPECT_EQ(LoadResourceString(IDS_STATUS_PREFIX), L"Status: ");
}

TEST_F(LanguageModuleTest, EveryFolderAndNameInOrder)
{
    // All eighteen places hold a module; removing the winner each time walks the whole order.
    const std::vector<std::wstring> order = {
        L"Resource\\de-DE\\ToolUI_de-DE.dll", L"Resource\\de-DE\\ToolUI_de.dll", L"Resource\\de-DE\\ToolUI.dll",
        L"Resource\\de\\ToolUI_de-DE.dll",    L"Resource\\de\\ToolUI_de.dll",    L"Resource\\de\\ToolUI.dll",
        L"Resource\\ToolUI_de-DE.dll",        L"Resource\\ToolUI_de.dll",        L"Resource\\ToolUI.dll",
        L"de-DE\\ToolUI_de-DE.dll",           L"de-DE\\ToolUI_de.dll",           L"de-DE\\ToolUI.dll",
        L"de\\ToolUI_de-DE.dll",              L"de\\ToolUI_de.dll",              L"de\\ToolUI.dll",
        L"ToolUI_de-DE.dll",                  L"ToolUI_de.dll",                  L"ToolUI.dll",
    };
    for (const std::wstring& place : order)
        PlaceModule(place);
    for (const std::wstring& expected : order) {
        EXPECT_EQ(Choose(), expected);
        ASSERT_TRUE(DeleteFileW((m_scratch / expected).c_str())) << kvotest::Narrow(expected);
    }
    EXPECT_EQ(Choose(), L"");
}

TEST_F(LanguageModuleTest, FolderNamedLikeAModuleIsSkipped)
{
    MakeFoldersFor(L"ToolUI_de-DE.dll\\x");
    PlaceModule(L"ToolUI_de.dll");
    EXPECT_EQ(Choose(), L"ToolUI_de.dll");
}

TEST_F(LanguageModuleTest, FileThatDoesNotLoadIsSkipped)
{
    MakeFoldersFor(L"Resource\\de-DE\\x");
    kvotest::WriteFileBytes(m_scratch / L"Resource\\de-DE\\ToolUI_de-DE.dll", "not a module");
    PlaceModule(L"Resource\\de-DE\\ToolUI.dll");
    EXPECT_EQ(Choose(), L"Resource\\de-DE\\ToolUI.dll");
}

TEST_F(LanguageModuleTest, ModulesOfOtherLanguagesAreNotTaken)
{
    PlaceModule(L"ToolUI_fr-FR.dll");
    PlaceModule(L"Resource\\fr\\ToolUI_fr.dll");
    PlaceModule(L"OtherUI.dll");
    EXPECT_EQ(Choose(), L"");
}

class ThreeLetterLanguageTest : public LanguageFixture {
protected:
    ThreeLetterLanguageTest() : LanguageFixture(L"app-language-fil") {}
};

TEST_F(ThreeLetterLanguageTest, NamesFallBackToEnglishUnitedStates)
{
    std::wstring locale = L"en-US";
    EXPECT_FALSE(CResourceManager::GetUILocaleName(locale));
    EXPECT_EQ(locale, L"en-US");
    EXPECT_EQ(CResourceManager::GetUILanguageName(), L"en");
    // The process really runs in a three-letter language: the ISO name does not fit in three.
    wchar_t name[9] = {};
    GetLocaleInfoW(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), LOCALE_SISO639LANGNAME, name, 9);
    EXPECT_STREQ(name, L"fil");
}

TEST_F(ThreeLetterLanguageTest, EnglishCandidatesAreChosen)
{
    PlaceModule(L"ToolUI_fil.dll");
    PlaceModule(L"ToolUI_en.dll");
    PlaceModule(L"Resource\\en\\ToolUI_en-US.dll");
    EXPECT_EQ(Choose(), L"Resource\\en\\ToolUI_en-US.dll");
    ASSERT_TRUE(DeleteFileW((m_scratch / L"Resource\\en\\ToolUI_en-US.dll").c_str()));
    EXPECT_EQ(Choose(), L"ToolUI_en.dll");
    ASSERT_TRUE(DeleteFileW((m_scratch / L"ToolUI_en.dll").c_str()));
    EXPECT_EQ(Choose(), L"");
}

} // namespace
