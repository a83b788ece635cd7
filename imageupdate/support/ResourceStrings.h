#pragma once
// Strings and templates are read from the current resource module: the program's own, or the
// language module that start-up switched to. Collectors and the dialog load through here.
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace Tallis::ImageUpdate {

// Raised when a string cannot be loaded; what() is "Load String failed".
class StringLoadError : public std::runtime_error {
public:
    StringLoadError() : std::runtime_error("Load String failed") {}
};

// The module that string and dialog loads read; the program's own module until switched.
[[nodiscard]] HMODULE GetResourceModule() noexcept;
// Back to the program's own module (or to another one that is trusted as it is).
void SetResourceModule(HMODULE module) noexcept;

// Switches to a language module whose texts are used as format texts: every string of the
// program's own table is compared with the module's string of that id, and one whose conversions
// differ (another count, type or order of "%" fields) is loaded from the program's own module from
// then on. Returns the ids of those strings.
[[nodiscard]] std::vector<UINT> SwitchToLanguageModule(HMODULE module);

// Loads string `id` from the current resource module; raises StringLoadError when it is missing.
[[nodiscard]] std::wstring LoadResourceString(UINT id);

// The "%" conversions of a format text in order, each as the part that decides what argument it
// takes ("s", "u", "I64d", "*d", ".*s"); "%%" is none. A "%" that ends the text counts as "".
[[nodiscard]] std::vector<std::wstring> FormatConversions(const std::wstring& format);

} // namespace Tallis::ImageUpdate
