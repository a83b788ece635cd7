#include "ResourceStrings.h"

#include <atomic>

namespace Tallis::ImageUpdate {
namespace {

std::atomic<HMODULE> g_resourceModule{nullptr};

} // namespace

HMODULE GetResourceModule() noexcept
{
    HMODULE module = g_resourceModule.load();
    return module ? module : GetModuleHandleW(nullptr);
}

void SetResourceModule(HMODULE module) noexcept
{
    g_resourceModule.store(module);
}

std::wstring LoadResourceString(UINT id)
{
    // With a zero buffer size LoadStringW hands out a pointer to the resource text itself,
    // which is not terminated: take it with its length. An empty string counts as missing.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetResourceModule(), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || !text)
        throw StringLoadError();
    return std::wstring(text, size_t(length));
}

} // namespace Tallis::ImageUpdate
