#include "LogCapture.h"

#include "SupportTestSeams.h"

namespace kvotest {
namespace {
std::mutex g_captureLock;
std::wstring g_captured;
} // namespace

DebugOutputCapture::DebugOutputCapture()
{
    Clear();
    Tallis::ImageUpdate::SetDebugOutputForTest(&Sink);
}

DebugOutputCapture::~DebugOutputCapture()
{
    Tallis::ImageUpdate::SetDebugOutputForTest(nullptr);
}

void DebugOutputCapture::Sink(const wchar_t* text)
{
    std::lock_guard lock(g_captureLock);
    g_captured += text;
}

std::wstring DebugOutputCapture::Text() const
{
    std::lock_guard lock(g_captureLock);
    return g_captured;
}

void DebugOutputCapture::Clear()
{
    std::lock_guard lock(g_captureLock);
    g_captured.clear();
}

ScratchLog::ScratchLog(const std::wstring& name) : m_folder(name)
{
    Tallis::ImageUpdate::InitializeLog(FullLogPath().c_str(), ErrorLogPath().c_str());
}

static std::string WithoutBom(std::string text)
{
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    return text;
}

std::string ScratchLog::FullLog() const
{
    return WithoutBom(ReadFileBytes(FullLogPath()));
}

std::string ScratchLog::ErrorLog() const
{
    return WithoutBom(ReadFileBytes(ErrorLogPath()));
}

std::vector<std::string> LogLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace kvotest
