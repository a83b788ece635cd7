#include "RecordTestSupport.h"

#include "DiagnosticLog.h"
#include "SupportTestSeams.h"
#include "TestSupport.h"

#include <windows.h>

#include <cwchar>
#include <mutex>

using namespace Tallis::ImageUpdate;

namespace kvotest {
namespace {

std::mutex g_captureLock;
std::wstring g_pending;
std::vector<std::wstring> g_entries;

void Sink(const wchar_t* text)
{
    std::lock_guard<std::mutex> lock(g_captureLock);
    g_pending += text;
    size_t end;
    while ((end = g_pending.find(L'\n')) != std::wstring::npos) {
        g_entries.push_back(g_pending.substr(0, end));
        g_pending.erase(0, end + 1);
    }
}

std::wstring LogFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"kvotest-records-log";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

} // namespace

LogCapture::LogCapture()
{
    const std::wstring folder = LogFolder();
    InitializeLog((folder + L"\\full.log").c_str(), (folder + L"\\errors.log").c_str());
    SetDebugOutputForTest(&Sink);
    Clear();
}

LogCapture::~LogCapture()
{
    SetDebugOutputForTest(nullptr);
    Clear();
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(g_captureLock);
    g_pending.clear();
    g_entries.clear();
}

std::vector<std::wstring> LogCapture::Entries() const
{
    std::lock_guard<std::mutex> lock(g_captureLock);
    return g_entries;
}

int LogCapture::CountContaining(const std::wstring& text) const
{
    int count = 0;
    for (const std::wstring& entry : Entries())
        count += entry.find(text) != std::wstring::npos ? 1 : 0;
    return count;
}

std::atomic<int> CountingNode::s_alive{0};

CountingNode::CountingNode(int key, std::int32_t typeCode) : m_key(key), m_typeCode(typeCode)
{
    ++s_alive;
}

CountingNode::~CountingNode()
{
    --s_alive;
}

void CountingNode::WriteText(FILE* stream) const
{
    wchar_t line[64];
    _snwprintf(line, 64, L"node %d\n", m_key);
    line[63] = L'\0';
    fputws(line, stream);
}

void CountingNode::LogLine() const
{
    KVO_LOG(LOG_INFO, L"CountingNode", L"node %d", m_key);
}

std::int32_t CountingNode::Compare(const ListNodeData* other) const
{
    const int otherKey = static_cast<const CountingNode*>(other)->m_key;
    return m_key < otherKey ? -kCompareScale : (m_key > otherKey ? kCompareScale : 0);
}

std::int32_t CountingNode::Save(FILE* stream) const
{
    const std::uint32_t length = 4;
    const std::int32_t key = m_key;
    if (fwrite(&length, 4, 1, stream) != 1 || fwrite(&key, 4, 1, stream) != 1)
        return -1;
    return 0;
}

Bytes& Bytes::Int32(std::int32_t value)
{
    return UInt32(std::uint32_t(value));
}

Bytes& Bytes::UInt32(std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        m_bytes.push_back(char((value >> (8 * i)) & 0xFF));
    return *this;
}

Bytes& Bytes::Text(const std::wstring& text)
{
    for (wchar_t c : text) {
        m_bytes.push_back(char(c & 0xFF));
        m_bytes.push_back(char((c >> 8) & 0xFF));
    }
    m_bytes.append(2, '\0');
    return *this;
}

Bytes& Bytes::Raw(const std::string& bytes)
{
    m_bytes += bytes;
    return *this;
}

Bytes& Bytes::StringEntry(std::int32_t id, const std::wstring& text)
{
    Int32(1);
    UInt32(std::uint32_t(4 + 2 * (text.size() + 1)));
    Int32(id);
    return Text(text);
}

std::string U32(std::uint32_t value)
{
    return Bytes().UInt32(value).Str();
}

std::string U64(std::uint64_t value)
{
    return Bytes().UInt32(std::uint32_t(value)).UInt32(std::uint32_t(value >> 32)).Str();
}

std::string Utf16(const std::wstring& text)
{
    return Bytes().Text(text).Str();
}

FILE* OpenBytes(const std::wstring& path, const std::string& bytes)
{
    WriteFileBytes(path, bytes);
    return _wfopen(path.c_str(), L"rb");
}

namespace {
struct FileCloser {
    void operator()(FILE* file) const noexcept { fclose(file); }
};
// Closed also when a reader's exception passes through the test.
using unique_file = std::unique_ptr<FILE, FileCloser>;
} // namespace

std::wstring RecordStreamFixture::NextPath()
{
    return scratch / (L"f" + std::to_wstring(++m_serial));
}

int RecordStreamFixture::LoadBytes(SortedLinkList& list, const std::string& bytes)
{
    const std::wstring path = NextPath();
    WriteFileBytes(path, bytes);
    unique_file in(_wfopen(path.c_str(), L"rb"));
    EXPECT_NE(in, nullptr);
    if (!in)
        return -99;
    return list.Load(in.get());
}

std::unique_ptr<ListNodeData> RecordStreamFixture::ReadNode(NodeReader reader, const std::string& bytes,
                                                            long* consumed)
{
    const std::wstring path = NextPath();
    WriteFileBytes(path, bytes);
    unique_file in(_wfopen(path.c_str(), L"rb"));
    EXPECT_NE(in, nullptr);
    if (!in)
        return nullptr;
    std::unique_ptr<ListNodeData> node(reader(in.get()));
    if (consumed)
        *consumed = ftell(in.get());
    return node;
}

std::string RecordStreamFixture::DumpWith(const std::function<void(FILE*)>& write)
{
    const std::wstring path = NextPath();
    FILE* out = _wfopen(path.c_str(), L"wt");
    EXPECT_NE(out, nullptr);
    if (!out)
        return {};
    write(out);
    fclose(out);
    // Text mode wrote "\r\n" for every "\n".
    const std::string text = ReadFileBytes(path);
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        plain.push_back(text[i]);
    }
    return plain;
}

std::string RecordStreamFixture::Dump(const ListNodeData& node)
{
    return DumpWith([&node](FILE* out) { node.WriteText(out); });
}

std::string RecordStreamFixture::DumpList(SortedLinkList& list)
{
    return DumpWith([&list](FILE* out) { list.WriteText(out); });
}

std::string RecordStreamFixture::SavedWith(const std::function<std::int32_t(FILE*)>& save)
{
    const std::wstring path = NextPath();
    FILE* out = _wfopen(path.c_str(), L"wb");
    EXPECT_NE(out, nullptr);
    if (!out)
        return {};
    EXPECT_EQ(save(out), 0);
    fclose(out);
    return ReadFileBytes(path);
}

std::string RecordStreamFixture::Saved(const ListNodeData& node)
{
    return SavedWith([&node](FILE* out) { return node.Save(out); });
}

std::string RecordStreamFixture::SavedList(SortedLinkList& list)
{
    return SavedWith([&list](FILE* out) { return list.Save(out); });
}

} // namespace kvotest
