#pragma once
// The console of whoever started the program, if any: a GUI program has none of its own. Output
// that the starter redirected (a file or pipe of a deployment tool) gets UTF-8; a console window
// of the parent gets wide text. Without either, writing does nothing.
#include <windows.h>

#include <string>

class CConsoleOutput {
public:
    // Looks for redirected output first, then attaches to the parent's console.
    void Open() noexcept;
    [[nodiscard]] bool IsOpen() const noexcept { return m_mode != Mode::None; }

    // Writes the text and a line end.
    void WriteLine(const std::wstring& text) noexcept;

    // The program's one console.
    [[nodiscard]] static CConsoleOutput& Get() noexcept;

private:
    enum class Mode { None, Redirected, Console };
    Mode m_mode = Mode::None;
    HANDLE m_output = nullptr; // not owned: the standard handle or the attached console's
};
