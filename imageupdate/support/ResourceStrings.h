#pragma once
// Strings and templates are read from the current resource module: the program's own, or the
// language module that start-up switched to. Collectors and the dialog load through here.
#include <windows.h>

#include <stdexcept>
#include <string>

namespace Tallis::ImageUpdate {

// Raised when a string cannot be loaded; what() is "Load String failed".
class StringLoadError : public std::runtime_error {
public:
    StringLoadError() : std::runtime_error("Load String failed") {}
};

// The module that string and dialog loads read; the program's own module until switched.
[[nodiscard]] HMODULE GetResourceModule() noexcept;
void SetResourceModule(HMODULE module) noexcept;

// Loads string `id` from the current resource module; raises StringLoadError when it is missing.
[[nodiscard]] std::wstring LoadResourceString(UINT id);

} // namespace Tallis::ImageUpdate
