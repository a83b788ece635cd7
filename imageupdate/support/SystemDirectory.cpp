#include "SystemDirectory.h"

#include "SupportTestSeams.h"

#include <atomic>

namespace Tallis::ImageUpdate {
namespace {

std::atomic<SystemDirectoryFn> g_systemDirectory{nullptr};

} // namespace

void SetSystemDirectoryForTest(SystemDirectoryFn source) noexcept
{
    g_systemDirectory.store(source);
}

std::wstring SystemDirectory()
{
    const SystemDirectoryFn source = g_systemDirectory.load();
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = source ? source(folder, MAX_PATH + 1) : GetSystemDirectoryW(folder, MAX_PATH + 1);
    // A result above the buffer is the size needed, and the buffer holds nothing usable.
    if (length == 0 || length > MAX_PATH)
        return {};
    std::wstring text(folder, length);
    while (text.size() > 3 && text.back() == L'\\')
        text.pop_back();
    return text;
}

std::wstring SystemProgramPath(const wchar_t* fileName)
{
    const std::wstring folder = SystemDirectory();
    if (folder.empty() || !fileName || !*fileName)
        return {};
    return folder.back() == L'\\' ? folder + fileName : folder + L"\\" + fileName;
}

} // namespace Tallis::ImageUpdate
