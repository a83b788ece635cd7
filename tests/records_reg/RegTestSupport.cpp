#include "RegTestSupport.h"

using namespace Tallis::ImageUpdate;

namespace regtest {
namespace {
struct FileCloser {
    void operator()(FILE* file) const noexcept { fclose(file); }
};
// Closed also when a reader's exception passes through the test.
using unique_file = std::unique_ptr<FILE, FileCloser>;
} // namespace

std::wstring RecordFixture::NextPath()
{
    return scratch / (L"f" + std::to_wstring(++m_serial));
}

int RecordFixture::LoadBytes(SortedLinkList& list, const std::string& bytes)
{
    const std::wstring path = NextPath();
    kvotest::WriteFileBytes(path, bytes);
    unique_file in(_wfopen(path.c_str(), L"rb"));
    EXPECT_NE(in, nullptr);
    if (!in)
        return -99;
    return list.Load(in.get());
}

std::unique_ptr<ListNodeData> RecordFixture::ReadNode(NodeReader reader, const std::string& bytes, long* consumed)
{
    const std::wstring path = NextPath();
    kvotest::WriteFileBytes(path, bytes);
    unique_file in(_wfopen(path.c_str(), L"rb"));
    EXPECT_NE(in, nullptr);
    if (!in)
        return nullptr;
    std::unique_ptr<ListNodeData> node(reader(in.get()));
    if (consumed)
        *consumed = ftell(in.get());
    return node;
}

std::string RecordFixture::ReadText(const std::wstring& path)
{
    std::string text = kvotest::ReadFileBytes(path);
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        plain.push_back(text[i]);
    }
    return plain;
}

std::string RecordFixture::Dump(const ListNodeData& node)
{
    const std::wstring path = NextPath();
    FILE* out = _wfopen(path.c_str(), L"wt");
    EXPECT_NE(out, nullptr);
    if (!out)
        return {};
    node.WriteText(out);
    fclose(out);
    return ReadText(path);
}

std::string RecordFixture::DumpList(SortedLinkList& list)
{
    const std::wstring path = NextPath();
    FILE* out = _wfopen(path.c_str(), L"wt");
    EXPECT_NE(out, nullptr);
    if (!out)
        return {};
    list.WriteText(out);
    fclose(out);
    return ReadText(path);
}

std::string RecordFixture::Saved(const ListNodeData& node)
{
    const std::wstring path = NextPath();
    FILE* out = _wfopen(path.c_str(), L"wb");
    EXPECT_NE(out, nullptr);
    if (!out)
        return {};
    EXPECT_EQ(node.Save(out), 0);
    fclose(out);
    return kvotest::ReadFileBytes(path);
}

std::string RecordFixture::SavedList(SortedLinkList& list)
{
    const std::wstring path = NextPath();
    FILE* out = _wfopen(path.c_str(), L"wb");
    EXPECT_NE(out, nullptr);
    if (!out)
        return {};
    EXPECT_EQ(list.Save(out), 0);
    fclose(out);
    return kvotest::ReadFileBytes(path);
}

} // namespace regtest
