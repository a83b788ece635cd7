// The main dialog's template, read back byte by byte from the compiled resources of the program
// and of the German language module: style, size, caption, font and every control in tab order.
#include "AppDriver.h"
#include "resource.h"

#include "TestSupport.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Control {
    DWORD style;
    short x, y, cx, cy;
    int id;
    std::wstring className; // predefined classes as "#<atom>"
    std::wstring text;
};

struct DialogTemplate {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX through explicit offsets; fails the test on a malformed block.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    DialogTemplate Read()
    {
        DialogTemplate result;
        EXPECT_EQ(Word(0), 1) << "dialog version";
        EXPECT_EQ(Word(2), 0xFFFF) << "extended template signature";
        result.style = Dword(12);
        const WORD count = Word(16);
        result.x = short(Word(18));
        result.y = short(Word(20));
        result.cx = short(Word(22));
        result.cy = short(Word(24));
        size_t at = 26;
        EXPECT_EQ(SzOrOrd(at), L"") << "menu";
        EXPECT_EQ(SzOrOrd(at), L"") << "window class";
        result.caption = String(at);
        if (result.style & DS_SETFONT) {
            result.pointSize = Word(at);
            at += 6; // point size, weight, italic, character set
            result.font = String(at);
        }
        for (WORD index = 0; index < count && !m_failed; ++index) {
            at = (at + 3) & ~size_t(3);
            Control control{};
            control.style = Dword(at + 8);
            control.x = short(Word(at + 12));
            control.y = short(Word(at + 14));
            control.cx = short(Word(at + 16));
            control.cy = short(Word(at + 18));
            control.id = int(LONG(Dword(at + 20)));
            at += 24;
            control.className = SzOrOrd(at);
            control.text = SzOrOrd(at);
            at += 2 + Word(at);
            result.controls.push_back(control);
        }
        return result;
    }

private:
    WORD Word(size_t at)
    {
        WORD value = 0;
        if (Check(at + 2))
            memcpy(&value, m_data + at, 2);
        return value;
    }
    DWORD Dword(size_t at)
    {
        DWORD value = 0;
        if (Check(at + 4))
            memcpy(&value, m_data + at, 4);
        return value;
    }
    std::wstring String(size_t& at)
    {
        std::wstring text;
        for (WORD c = Word(at); c != 0 && !m_failed; c = Word(at)) {
            text += wchar_t(c);
            at += 2;
        }
        at += 2;
        return text;
    }
    std::wstring SzOrOrd(size_t& at)
    {
        if (Word(at) == 0xFFFF) {
            const std::wstring ordinal = L"#" + std::to_wstring(Word(at + 2));
            at += 4;
            return ordinal;
        }
        return String(at);
    }
    bool Check(size_t end)
    {
        if (end > m_size && !m_failed) {
            m_failed = true;
            ADD_FAILURE() << "template ends early at byte " << end;
        }
        return !m_failed;
    }

    const BYTE* m_data;
    size_t m_size;
    bool m_failed = false;
};

DialogTemplate LoadTemplate(HMODULE module)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDD_VELLOCSDIAG_DIALOG), MAKEINTRESOURCEW(5)); // RT_DIALOG
    if (!found) {
        ADD_FAILURE() << "no dialog 135";
        return {};
    }
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    return TemplateReader(data, SizeofResource(module, found)).Read();
}

// Button 0x80, Edit 0x81, Static 0x82.
const Control kExpectedControls[] = {
    {0x50010001, 236, 155, 50, 14, 1, L"#128", L"OK"},
    {0x50010000, 182, 155, 50, 14, 2, L"#128", L"Close"},
    {0x50810880, 18, 15, 210, 14, 1016, L"#129", L""},
    {0x50010000, 236, 15, 50, 14, 1025, L"#128", L"Browse"},
    {0x50010003, 26, 65, 108, 10, 1038, L"#128", L"Collect Vellocs Metadata"},
    {0x40800000, 18, 126, 268, 14, 1042, L"msctls_progress32", L""},
    {0x50020000, 18, 112, 268, 9, 1043, L"#130", L""},
    {0x50010003, 26, 82, 94, 10, 1044, L"#128", L"Collect OS Logs"},
    {0x50000007, 18, 34, 268, 70, -1, L"#128", L""},
    {0x50010003, 26, 48, 100, 10, 1046, L"#128", L"Collect Vellocs Logs"},
};

void ExpectLayout(const DialogTemplate& dialog, bool compareTexts)
{
    EXPECT_EQ(dialog.style, 0x80C800C8u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 305);
    EXPECT_EQ(dialog.cy, 184);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, L"MS Shell Dlg");
    ASSERT_EQ(dialog.controls.size(), std::size(kExpectedControls));
    for (size_t index = 0; index < dialog.controls.size(); ++index) {
        const Control& actual = dialog.controls[index];
        const Control& expected = kExpectedControls[index];
        SCOPED_TRACE("control in tab position " + std::to_string(index) + ", id " + std::to_string(expected.id));
        EXPECT_EQ(actual.id, expected.id);
        // Class names compare without case (windres stores them in upper case).
        EXPECT_EQ(_wcsicmp(actual.className.c_str(), expected.className.c_str()), 0)
            << kvotest::Narrow(actual.className);
        EXPECT_EQ(actual.style, expected.style) << std::hex << actual.style;
        EXPECT_EQ(actual.x, expected.x);
        EXPECT_EQ(actual.y, expected.y);
        EXPECT_EQ(actual.cx, expected.cx);
        EXPECT_EQ(actual.cy, expected.cy);
        if (compareTexts || expected.text.empty())
            EXPECT_EQ(actual.text, expected.text);
        else
            EXPECT_FALSE(actual.text.empty());
    }
}

std::wstring GermanModulePath()
{
    return kvoapp::WinePath(kvotest::Narrow(kvotest::GetEnv(L"KVO_BINARY_DIR")) +
                            "/app/Resource/de/KvoVellocsDiagUI_de.dll");
}

} // namespace

TEST(TemplateTest, ProgramDialogHasTheFixedLayoutAndTexts)
{
    const DialogTemplate dialog = LoadTemplate(GetModuleHandleW(nullptr));
    EXPECT_EQ(dialog.caption, L"Korvane Vellocs Diagnostic Tool");
    ExpectLayout(dialog, true);
}

TEST(TemplateTest, GermanModuleSharesTheLayoutWithTranslatedTexts)
{
    Tallis::ImageUpdate::unique_hmodule module(
        LoadLibraryExW(GermanModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module) << "German module not built at " << kvotest::Narrow(GermanModulePath());
    const DialogTemplate dialog = LoadTemplate(module.get());
    EXPECT_EQ(dialog.caption, L"Korvane Vellocs-Diagnosewerkzeug");
    EXPECT_EQ(dialog.controls.size() > 1 ? dialog.controls[1].text : L"", L"Schlie\u00DFen");
    ExpectLayout(dialog, false);
}

TEST(TemplateTest, ProgramCarriesItsIconInTheUsualSizes)
{
    HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_MAINFRAME), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
    ASSERT_GE(SizeofResource(nullptr, group), 6u);
    WORD count = 0;
    memcpy(&count, data + 4, 2);
    std::vector<int> sizes;
    for (WORD index = 0; index < count; ++index) {
        const BYTE width = data[6 + 14 * index]; // 0 stands for 256
        sizes.push_back(width == 0 ? 256 : width);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));
    for (int size : {16, 32, 48})
        EXPECT_NE(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINFRAME), IMAGE_ICON, size, size, 0),
                  nullptr)
            << size;
}
