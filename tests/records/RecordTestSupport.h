#pragma once
// Helpers of the record library tests: diagnostic-log capture, a counting node type, byte
// builders for hand-written record streams, and a fixture that reads, saves and dumps records
// through scratch files.
#include "ListNodeData.h"
#include "NodeFactory.h"
#include "SortedLinkList.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kvotest {

// Starts the diagnostic log on scratch files and collects every entry (header and message) that
// reaches the debugger output while the object lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void Clear();
    [[nodiscard]] std::vector<std::wstring> Entries() const;
    // Entries that contain text.
    [[nodiscard]] int CountContaining(const std::wstring& text) const;
};

// A node type of the tests: ordered by an integer key, counts its living instances, and writes
// "node <key>\n" as its text dump.
class CountingNode : public Tallis::ImageUpdate::ListNodeData {
public:
    explicit CountingNode(int key, std::int32_t typeCode = 99);
    ~CountingNode() override;

    std::int32_t TypeCode() const override { return m_typeCode; }
    void WriteText(FILE* stream) const override;
    void LogLine() const override;
    std::int32_t Compare(const ListNodeData* other) const override;
    std::int32_t Save(FILE* stream) const override;
    std::int32_t DataSize() const override { return 4; }

    [[nodiscard]] int Key() const noexcept { return m_key; }
    [[nodiscard]] static int Alive() noexcept { return s_alive.load(); }

    // Compare scales its result so that tests see results other than -1/0/+1.
    static constexpr int kCompareScale = 7;

private:
    static std::atomic<int> s_alive;
    int m_key;
    std::int32_t m_typeCode;
};

// Little-endian byte builder for hand-written streams.
class Bytes {
public:
    Bytes& Int32(std::int32_t value);
    Bytes& UInt32(std::uint32_t value);
    // UTF-16LE text with its terminating NUL.
    Bytes& Text(const std::wstring& text);
    Bytes& Raw(const std::string& bytes);
    // One string entry of a list stream: type code 1, length, id, text.
    Bytes& StringEntry(std::int32_t id, const std::wstring& text);
    [[nodiscard]] const std::string& Str() const noexcept { return m_bytes; }

private:
    std::string m_bytes;
};

// Little-endian bytes of a value.
[[nodiscard]] std::string U32(std::uint32_t value);
[[nodiscard]] std::string U64(std::uint64_t value);
// UTF-16LE text with its terminating NUL.
[[nodiscard]] std::string Utf16(const std::wstring& text);

// Writes bytes to path and opens it for binary reading (the caller closes it).
[[nodiscard]] FILE* OpenBytes(const std::wstring& path, const std::string& bytes);

// Runs records through numbered files in a scratch folder of the given name.
class RecordStreamFixture : public ::testing::Test {
protected:
    explicit RecordStreamFixture(const std::wstring& scratchName) : scratch(scratchName) {}

    ScratchFolder scratch;

    // Writes bytes to a file and loads them into list; Load's result.
    int LoadBytes(Tallis::ImageUpdate::SortedLinkList& list, const std::string& bytes);
    // Runs a stream reader on bytes (the part behind the type code); also reports in
    // consumed how many bytes it read.
    std::unique_ptr<Tallis::ImageUpdate::ListNodeData> ReadNode(Tallis::ImageUpdate::NodeReader reader,
                                                                const std::string& bytes, long* consumed = nullptr);
    // The node's or the list's text dump, line ends as "\n".
    std::string Dump(const Tallis::ImageUpdate::ListNodeData& node);
    std::string DumpList(Tallis::ImageUpdate::SortedLinkList& list);
    // The bytes that Save writes.
    std::string Saved(const Tallis::ImageUpdate::ListNodeData& node);
    std::string SavedList(Tallis::ImageUpdate::SortedLinkList& list);

private:
    std::wstring NextPath();
    std::string DumpWith(const std::function<void(FILE*)>& write);
    std::string SavedWith(const std::function<std::int32_t(FILE*)>& save);
    int m_serial = 0;
};

} // namespace kvotest
