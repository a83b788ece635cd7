#pragma once
// Helpers of the record library tests: diagnostic-log capture, a counting node type, and byte
// builders for hand-written record streams.
#include "ListNodeData.h"

#include <atomic>
#include <cstdint>
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

// Writes bytes to path and opens it for binary reading (the caller closes it).
[[nodiscard]] FILE* OpenBytes(const std::wstring& path, const std::string& bytes);

} // namespace kvotest
