#pragma once
// Display texts of a block of bytes: the first 16 bytes in hexadecimal, or the block
// read as wide text.
#include <windows.h>

#include <memory>

namespace Tallis::ImageUpdate {

class CRawBytes {
public:
    // Copies length bytes (none when bytes is null) and two zero bytes behind them.
    CRawBytes(const void* bytes, DWORD length);
    virtual ~CRawBytes() = default;
    CRawBytes(const CRawBytes&) = delete;
    CRawBytes& operator=(const CRawBytes&) = delete;

    // "%02X " for each of the first 16 bytes at most.
    const wchar_t* GetHexText() noexcept;
    // The copy as wide text up to its first zero character, at most 120 characters.
    const wchar_t* GetWideText() noexcept;

private:
    static constexpr size_t kTextChars = 1024;

    std::unique_ptr<BYTE[]> m_data;
    DWORD m_length;
    wchar_t m_text[kTextChars];
};

} // namespace Tallis::ImageUpdate
