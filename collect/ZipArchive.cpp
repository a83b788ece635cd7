#include "ZipArchive.h"

#include "CngApi.h"
#include "CollectTestSeams.h"
#include "DiagnosticLog.h"
#include "OutputTree.h"
#include "PrivateSecurity.h"
#include "UniqueHandles.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace Tallis::ImageUpdate;

namespace {

constexpr wchar_t kLogUnit[] = L"ZipArchive";
constexpr DWORD kReadBlock = 1u << 20;
constexpr size_t kFlushAt = 1u << 20;
// Logs and text compress well even at the fastest level, and packing must stay cheap.
constexpr int kDeflateLevel = 1;

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kZip64EndSig = 0x06064b50;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint16_t kFlagUtf8Names = 1u << 11;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kVersionDefault = 20;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint16_t kVersionMadeBy = 63; // upper byte 0: MS-DOS attributes
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraTimestamp = 0x5455;
constexpr size_t kLocalHeaderBytes = 30;
constexpr size_t kLocalCrcOffset = 14;

std::atomic<uint64_t> g_zip64Bytes{0xFFFFFFFFu};
std::atomic<uint32_t> g_zip64Entries{0xFFFFu};

void Put16(std::vector<BYTE>& out, uint16_t value)
{
    out.push_back(BYTE(value));
    out.push_back(BYTE(value >> 8));
}
void Put32(std::vector<BYTE>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(BYTE(value >> (8 * i)));
}
void Put64(std::vector<BYTE>& out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(BYTE(value >> (8 * i)));
}
void Store32(BYTE* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = BYTE(value >> (8 * i));
}
void Store64(BYTE* at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = BYTE(value >> (8 * i));
}

// Buffered output with positional writes: a local header is patched once its sizes are known, and
// a file that fails half way is dropped by rewinding to its header.
class ZipWriter {
public:
    // A new file beside the archive's final name, private to the run: <final>.partial, or, when that
    // name is taken (by anything, a planted link included), <final>.<random>.partial. partialPath
    // is set only to a file this call created.
    DWORD Create(const std::wstring& finalPath, std::wstring& partialPath)
    {
        PrivateSecurity security;
        if (const DWORD error = security.Build())
            return error;
        DWORD error = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 4 && error == ERROR_FILE_EXISTS; ++attempt) {
            std::wstring random;
            if (attempt > 0 && (error = RandomHex(8, random)) != 0)
                return error;
            const std::wstring candidate = finalPath + (random.empty() ? L"" : L"." + random) + L".partial";
            m_file.reset(CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, security.Attributes(), CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            error = m_file ? 0 : GetLastError();
            if (error == 0)
                partialPath = candidate;
        }
        if (error == 0)
            m_buffer.reserve(kFlushAt * 2);
        return error;
    }
    [[nodiscard]] uint64_t Position() const noexcept { return m_flushed + m_buffer.size(); }

    DWORD Append(const void* data, size_t size)
    {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
        return m_buffer.size() >= kFlushAt ? Flush() : 0;
    }
    DWORD Append(const std::vector<BYTE>& bytes) { return Append(bytes.data(), bytes.size()); }

    // Overwrites bytes already appended.
    DWORD Patch(uint64_t offset, const BYTE* data, size_t size)
    {
        if (offset < m_flushed) {
            const size_t onDisk = size_t(std::min<uint64_t>(size, m_flushed - offset));
            if (const DWORD error = WriteAt(offset, data, onDisk))
                return error;
            offset += onDisk;
            data += onDisk;
            size -= onDisk;
        }
        if (size > 0)
            std::memcpy(m_buffer.data() + (offset - m_flushed), data, size);
        return 0;
    }

    // Drops everything from offset on; later output overwrites it.
    void Rewind(uint64_t offset) noexcept
    {
        if (offset >= m_flushed) {
            m_buffer.resize(size_t(offset - m_flushed));
        } else {
            m_buffer.clear();
            m_flushed = offset;
        }
    }

    DWORD Finish()
    {
        if (const DWORD error = Flush())
            return error;
        LARGE_INTEGER end;
        end.QuadPart = LONGLONG(m_flushed);
        if (!SetFilePointerEx(m_file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.get()) ||
            !FlushFileBuffers(m_file.get()))
            return GetLastError();
        m_file.reset();
        return 0;
    }
    void Close() noexcept { m_file.reset(); }

private:
    DWORD Flush()
    {
        if (const DWORD error = WriteAt(m_flushed, m_buffer.data(), m_buffer.size()))
            return error;
        m_flushed += m_buffer.size();
        m_buffer.clear();
        return 0;
    }
    DWORD WriteAt(uint64_t offset, const BYTE* data, size_t size)
    {
        while (size > 0) {
            OVERLAPPED at{};
            at.Offset = DWORD(offset);
            at.OffsetHigh = DWORD(offset >> 32);
            const DWORD chunk = DWORD(std::min<size_t>(size, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(m_file.get(), data, chunk, &written, &at))
                return GetLastError();
            if (written == 0)
                return ERROR_WRITE_FAULT;
            offset += written;
            data += written;
            size -= written;
        }
        return 0;
    }

    unique_hfile m_file;
    std::vector<BYTE> m_buffer;
    uint64_t m_flushed = 0;
};

struct DeflateStream {
    z_stream stream{};
    bool ready = false;
    DeflateStream() { ready = deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~DeflateStream()
    {
        if (ready)
            deflateEnd(&stream);
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
};

struct CentralEntry {
    std::string name;
    uint16_t method = kMethodStored;
    uint16_t dosTime = 0, dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0, size = 0, offset = 0;
    bool folder = false;
    bool zip64Local = false;
    bool hasUnixTime = false;
    uint32_t unixTime = 0;
};

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(needed, 0)), '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), needed, nullptr, nullptr);
    return out;
}

// DOS times are local time with two-second steps, from 1980 to 2107.
void SetTimes(CentralEntry& entry, const FILETIME& lastWrite)
{
    SYSTEMTIME utc{}, local{};
    if (!FileTimeToSystemTime(&lastWrite, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        local = SYSTEMTIME{1980, 1, 0, 1, 0, 0, 0, 0};
    if (local.wYear < 1980)
        local = SYSTEMTIME{1980, 1, 0, 1, 0, 0, 0, 0};
    if (local.wYear > 2107)
        local = SYSTEMTIME{2107, 12, 0, 31, 23, 59, 58, 0};
    entry.dosDate = uint16_t(((local.wYear - 1980) << 9) | (local.wMonth << 5) | local.wDay);
    entry.dosTime = uint16_t((local.wHour << 11) | (local.wMinute << 5) | (local.wSecond / 2));

    // The extended timestamp keeps the exact second in UTC, where its 32-bit field reaches.
    const uint64_t ticks = (uint64_t(lastWrite.dwHighDateTime) << 32) | lastWrite.dwLowDateTime;
    constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
    if (ticks >= kUnixEpochTicks) {
        const uint64_t seconds = (ticks - kUnixEpochTicks) / 10000000ull;
        if (seconds <= 0x7FFFFFFFull) {
            entry.hasUnixTime = true;
            entry.unixTime = uint32_t(seconds);
        }
    }
}

// Already compressed content (archives, images, compressed logs) gains nothing from deflate, which
// is slowest on exactly such data: judged by the byte entropy of the first block, such files are
// stored. Small samples say too little and are simply deflated.
bool LooksIncompressible(const BYTE* data, size_t size)
{
    constexpr size_t kMinSample = 4096, kMaxSample = 65536;
    if (size < kMinSample)
        return false;
    size = std::min(size, kMaxSample);
    uint32_t counts[256] = {};
    for (size_t i = 0; i < size; ++i)
        ++counts[data[i]];
    double bits = 0;
    for (const uint32_t count : counts) {
        if (count != 0) {
            const double p = double(count) / double(size);
            bits -= p * std::log2(p);
        }
    }
    return bits > 7.9;
}

bool NeedsZip64(uint64_t value)
{
    return value >= g_zip64Bytes;
}

// The local header is written before the data, so it takes the Zip64 sizes whenever the
// compressed size could reach the limit (deflate adds at most a few bytes per 16 KiB).
bool NeedsZip64Local(uint64_t size)
{
    const uint64_t limit = g_zip64Bytes.load();
    return size >= limit || limit - size <= size / 64 + 4096;
}

std::vector<BYTE> LocalHeader(const CentralEntry& entry)
{
    std::vector<BYTE> h;
    h.reserve(kLocalHeaderBytes + entry.name.size() + 29);
    Put32(h, kLocalHeaderSig);
    Put16(h, entry.zip64Local ? kVersionZip64 : kVersionDefault);
    Put16(h, kFlagUtf8Names);
    Put16(h, entry.method);
    Put16(h, entry.dosTime);
    Put16(h, entry.dosDate);
    Put32(h, 0); // CRC-32, patched after the data
    Put32(h, entry.zip64Local ? 0xFFFFFFFFu : 0);
    Put32(h, entry.zip64Local ? 0xFFFFFFFFu : 0);
    Put16(h, uint16_t(entry.name.size()));
    Put16(h, uint16_t((entry.zip64Local ? 20 : 0) + (entry.hasUnixTime ? 9 : 0)));
    h.insert(h.end(), entry.name.begin(), entry.name.end());
    if (entry.zip64Local) {
        Put16(h, kExtraZip64);
        Put16(h, 16);
        Put64(h, 0);
        Put64(h, 0);
    }
    if (entry.hasUnixTime) {
        Put16(h, kExtraTimestamp);
        Put16(h, 5);
        h.push_back(1); // modification time present
        Put32(h, entry.unixTime);
    }
    return h;
}

std::vector<BYTE> CentralHeader(const CentralEntry& entry)
{
    const bool bigSize = entry.zip64Local || NeedsZip64(entry.size);
    const bool bigCompressed = entry.zip64Local || NeedsZip64(entry.compressed);
    const bool bigOffset = NeedsZip64(entry.offset);
    const uint16_t zip64Data = uint16_t(8 * (int(bigSize) + int(bigCompressed) + int(bigOffset)));
    const bool anyZip64 = zip64Data != 0;

    std::vector<BYTE> h;
    h.reserve(46 + entry.name.size() + 37);
    Put32(h, kCentralHeaderSig);
    Put16(h, kVersionMadeBy);
    Put16(h, anyZip64 ? kVersionZip64 : kVersionDefault);
    Put16(h, kFlagUtf8Names);
    Put16(h, entry.method);
    Put16(h, entry.dosTime);
    Put16(h, entry.dosDate);
    Put32(h, entry.crc);
    Put32(h, bigCompressed ? 0xFFFFFFFFu : uint32_t(entry.compressed));
    Put32(h, bigSize ? 0xFFFFFFFFu : uint32_t(entry.size));
    Put16(h, uint16_t(entry.name.size()));
    Put16(h, uint16_t((anyZip64 ? 4 + zip64Data : 0) + (entry.hasUnixTime ? 9 : 0)));
    Put16(h, 0); // comment
    Put16(h, 0); // disk
    Put16(h, 0); // internal attributes
    Put32(h, entry.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    Put32(h, bigOffset ? 0xFFFFFFFFu : uint32_t(entry.offset));
    h.insert(h.end(), entry.name.begin(), entry.name.end());
    if (anyZip64) {
        // Only the fields marked 0xFFFFFFFF above, in this fixed order.
        Put16(h, kExtraZip64);
        Put16(h, zip64Data);
        if (bigSize)
            Put64(h, entry.size);
        if (bigCompressed)
            Put64(h, entry.compressed);
        if (bigOffset)
            Put64(h, entry.offset);
    }
    if (entry.hasUnixTime) {
        Put16(h, kExtraTimestamp);
        Put16(h, 5);
        h.push_back(1);
        Put32(h, entry.unixTime);
    }
    return h;
}

// Outcome of packing one file: 0, a read error (the file is left out), or a write error (fatal).
struct PackResult {
    DWORD readError = 0;
    DWORD writeError = 0;
};

class Packer {
public:
    Packer(ZipWriter& writer, ZipArchiveReport& report) : m_writer(writer), m_report(report) {}

    [[nodiscard]] bool Ready() const noexcept { return m_deflate.ready && m_block && m_out; }

    DWORD AddFolder(const std::string& name, const FILETIME& lastWrite)
    {
        CentralEntry entry;
        entry.name = name + "/";
        entry.folder = true;
        SetTimes(entry, lastWrite);
        entry.offset = m_writer.Position();
        if (const DWORD error = m_writer.Append(LocalHeader(entry)))
            return error;
        m_entries.push_back(std::move(entry));
        return 0;
    }

    PackResult AddFile(const std::string& name, const std::wstring& longPath, const FILETIME& listedTime)
    {
        // Sharing read, write and delete: a log its service holds open for writing is still packed.
        unique_hfile file(CreateFileW(longPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file)
            return {GetLastError(), 0};
        LARGE_INTEGER length{};
        FILETIME lastWrite = listedTime;
        if (!GetFileSizeEx(file.get(), &length))
            return {GetLastError(), 0};
        (void)GetFileTime(file.get(), nullptr, nullptr, &lastWrite);

        // A file that grows while it is packed is cut at the size it had when opened.
        const uint64_t size = uint64_t(length.QuadPart);
        DWORD read = 0;
        if (size > 0 && !ReadFile(file.get(), m_block.get(), DWORD(std::min<uint64_t>(kReadBlock, size)), &read,
                                  nullptr))
            return {GetLastError(), 0};

        CentralEntry entry;
        entry.name = name;
        entry.method = read > 0 && !LooksIncompressible(m_block.get(), read) ? kMethodDeflated : kMethodStored;
        entry.zip64Local = NeedsZip64Local(size);
        SetTimes(entry, lastWrite);
        entry.offset = m_writer.Position();
        if (const DWORD error = m_writer.Append(LocalHeader(entry)))
            return {0, error};
        const PackResult body = WriteBody(file.get(), size, read, entry);
        if (body.readError != 0 || body.writeError != 0)
            return body;
        if (const DWORD error = PatchLocalHeader(entry))
            return {0, error};
        m_report.bytesPacked += entry.size;
        m_entries.push_back(std::move(entry));
        return {};
    }

    DWORD WriteDirectory()
    {
        const uint64_t start = m_writer.Position();
        for (const CentralEntry& entry : m_entries)
            if (const DWORD error = m_writer.Append(CentralHeader(entry)))
                return error;
        const uint64_t size = m_writer.Position() - start;
        const uint64_t count = m_entries.size();
        const bool manyEntries = count >= std::min<uint64_t>(g_zip64Entries.load(), 0xFFFF);
        const bool zip64 = manyEntries || NeedsZip64(start) || NeedsZip64(size);

        std::vector<BYTE> tail;
        if (zip64) {
            const uint64_t recordOffset = m_writer.Position();
            Put32(tail, kZip64EndSig);
            Put64(tail, 44); // size of the rest of this record
            Put16(tail, kVersionZip64);
            Put16(tail, kVersionZip64);
            Put32(tail, 0);
            Put32(tail, 0);
            Put64(tail, count);
            Put64(tail, count);
            Put64(tail, size);
            Put64(tail, start);
            Put32(tail, kZip64LocatorSig);
            Put32(tail, 0);
            Put64(tail, recordOffset);
            Put32(tail, 1);
        }
        Put32(tail, kEndSig);
        Put16(tail, 0);
        Put16(tail, 0);
        Put16(tail, manyEntries ? 0xFFFF : uint16_t(count));
        Put16(tail, manyEntries ? 0xFFFF : uint16_t(count));
        Put32(tail, NeedsZip64(size) ? 0xFFFFFFFFu : uint32_t(size));
        Put32(tail, NeedsZip64(start) ? 0xFFFFFFFFu : uint32_t(start));
        Put16(tail, 0); // comment
        m_report.entries = count;
        m_report.zip64 = zip64;
        return m_writer.Append(tail);
    }

private:
    // Deflates (or stores) the data from the block already read on, and sets the entry's CRC and
    // sizes. A read that fails drops the entry by rewinding to its header.
    PackResult WriteBody(HANDLE file, uint64_t size, DWORD read, CentralEntry& entry)
    {
        uint64_t done = 0;
        uLong crc = crc32(0, nullptr, 0);
        uint64_t compressed = 0;
        if (entry.method == kMethodDeflated)
            deflateReset(&m_deflate.stream);
        for (;;) {
            done += read;
            crc = crc32(crc, m_block.get(), uInt(read));
            // A file that shrank ends early: it is packed as far as it reaches.
            const bool last = read == 0 || done >= size;
            const DWORD error = entry.method == kMethodDeflated ? Deflate(read, last, compressed) : Store(read, compressed);
            if (error != 0)
                return {0, error};
            if (last)
                break;
            read = 0;
            if (!ReadFile(file, m_block.get(), DWORD(std::min<uint64_t>(kReadBlock, size - done)), &read, nullptr)) {
                const DWORD readError = GetLastError();
                m_writer.Rewind(entry.offset);
                return {readError, 0};
            }
        }
        entry.crc = uint32_t(crc);
        entry.size = done;
        entry.compressed = compressed;
        if (!entry.zip64Local && (NeedsZip64(entry.size) || NeedsZip64(entry.compressed)))
            return {0, ERROR_ARITHMETIC_OVERFLOW};
        return {};
    }

    DWORD Deflate(DWORD read, bool last, uint64_t& compressed)
    {
        z_stream& z = m_deflate.stream;
        z.next_in = m_block.get();
        z.avail_in = uInt(read);
        int status;
        do {
            z.next_out = m_out.get();
            z.avail_out = uInt(kOutBlock);
            status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR)
                return ERROR_INVALID_DATA;
            const size_t produced = kOutBlock - z.avail_out;
            compressed += produced;
            if (const DWORD error = m_writer.Append(m_out.get(), produced))
                return error;
        } while (z.avail_out == 0);
        return last && status != Z_STREAM_END ? DWORD(ERROR_INVALID_DATA) : DWORD(0);
    }

    DWORD Store(DWORD read, uint64_t& compressed)
    {
        compressed += read;
        return m_writer.Append(m_block.get(), read);
    }

    // The local header went out before the data: its CRC and sizes are written now.
    DWORD PatchLocalHeader(const CentralEntry& entry)
    {
        BYTE sizes[16];
        Store32(sizes, entry.crc);
        if (const DWORD error = m_writer.Patch(entry.offset + kLocalCrcOffset, sizes, 4))
            return error;
        if (entry.zip64Local) {
            Store64(sizes, entry.size);
            Store64(sizes + 8, entry.compressed);
            return m_writer.Patch(entry.offset + kLocalHeaderBytes + entry.name.size() + 4, sizes, 16);
        }
        Store32(sizes, uint32_t(entry.compressed));
        Store32(sizes + 4, uint32_t(entry.size));
        return m_writer.Patch(entry.offset + kLocalCrcOffset + 4, sizes, 8);
    }

    static constexpr size_t kOutBlock = 256u << 10;
    ZipWriter& m_writer;
    ZipArchiveReport& m_report;
    DeflateStream m_deflate;
    std::unique_ptr<BYTE[]> m_block{new BYTE[kReadBlock]};
    std::unique_ptr<BYTE[]> m_out{new BYTE[kOutBlock]};
    std::vector<CentralEntry> m_entries;
};

// "\\?\C:\out\VellocsDiag_123" -> "VellocsDiag_123"; a drive root has no name of its own.
std::wstring TopName(const std::wstring& root)
{
    std::wstring top = root.substr(root.find_last_of(L'\\') + 1);
    if (top.empty() || top.back() == L':')
        top.clear();
    return top;
}

// Adds every entry of the tree; a file or folder that cannot be read is left out through skip.
// Returns a failure of the archive itself.
DWORD PackEntries(Packer& packer, const std::wstring& root, const std::vector<TreeEntry>& tree,
                  const std::string& prefix, const std::function<void(const std::wstring&, DWORD)>& skip)
{
    for (const TreeEntry& entry : tree) {
        std::wstring name = entry.relativePath;
        std::replace(name.begin(), name.end(), L'\\', L'/');
        const std::wstring path = root + L"\\" + entry.relativePath;
        const std::string entryName = prefix + Utf8(name);
        // The header keeps a name's length in 16 bits.
        if (entryName.size() >= 0xFFFF) {
            skip(path, ERROR_FILENAME_EXCED_RANGE);
            continue;
        }
        if (entry.folder) {
            if (const DWORD error = packer.AddFolder(entryName, entry.lastWrite))
                return error;
            if (entry.error != 0)
                skip(path, entry.error);
            continue;
        }
        const PackResult packed = packer.AddFile(entryName, path, entry.lastWrite);
        if (packed.writeError != 0)
            return packed.writeError;
        if (packed.readError != 0)
            skip(path, packed.readError);
    }
    return 0;
}

// Writes the whole archive to a new private file beside finalPath (partialPath tells which).
// Returns a failure of the archive itself; a file left out only sets firstSkip. The tree is listed
// before the archive is created, so an archive placed inside the folder does not pack itself.
DWORD Pack(const std::wstring& root, const std::wstring& finalPath, std::wstring& partialPath,
           ZipArchiveReport& report, DWORD& firstSkip)
{
    std::vector<TreeEntry> tree;
    if (const DWORD error = ListTreeEntries(root, tree))
        return error;
    WIN32_FILE_ATTRIBUTE_DATA rootData{};
    if (!GetFileAttributesExW(root.c_str(), GetFileExInfoStandard, &rootData))
        return GetLastError();
    if (!(rootData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    const std::wstring top = TopName(root);

    ZipWriter writer;
    if (const DWORD error = writer.Create(finalPath, partialPath))
        return error;
    Packer packer(writer, report);
    if (!packer.Ready())
        return ERROR_NOT_ENOUGH_MEMORY;

    auto skip = [&](const std::wstring& path, DWORD error) {
        KVO_LOG(LOG_ERROR, kLogUnit, L"%s could not be packed into the archive, Error:%d", path.c_str(), int(error));
        ++report.skippedFiles;
        if (firstSkip == 0)
            firstSkip = error;
    };
    DWORD error = top.empty() ? 0 : packer.AddFolder(Utf8(top), rootData.ftLastWriteTime);
    if (error == 0)
        error = PackEntries(packer, root, tree, top.empty() ? std::string() : Utf8(top) + "/", skip);
    if (error == 0)
        error = packer.WriteDirectory();
    if (error == 0)
        error = writer.Finish();
    writer.Close();
    return error;
}

} // namespace

void SetZip64ThresholdsForTest(uint64_t bytes, uint32_t entries) noexcept
{
    g_zip64Bytes = std::min<uint64_t>(bytes, 0xFFFFFFFFu);
    g_zip64Entries = std::min<uint32_t>(entries, 0xFFFFu);
}

DWORD CreateZipArchive(const wchar_t* folder, const wchar_t* zipPath, ZipArchiveReport& report) noexcept
{
    report = ZipArchiveReport{};
    std::wstring partialPath;
    try {
        const std::wstring root = FullLongPath(folder);
        const std::wstring finalPath = FullLongPath(zipPath);
        if (root.empty() || finalPath.empty())
            return ERROR_INVALID_PARAMETER;
        // A failed run must not leave an older archive that passes for this one. On Windows,
        // deleting a link removes the link, never what it leads to (Wine differs for links to files).
        if (!DeleteFileW(finalPath.c_str())) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
                return error;
        }
        DWORD firstSkip = 0;
        DWORD error = Pack(root, finalPath, partialPath, report, firstSkip);
        // The rename replaces whatever took the final name meanwhile; it never writes through a link.
        if (error == 0 &&
            !MoveFileExW(partialPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            error = GetLastError();
        if (error != 0) {
            if (!partialPath.empty())
                DeleteFileW(partialPath.c_str());
            return error;
        }
        report.archiveWritten = true;
        return firstSkip;
    } catch (const std::bad_alloc&) {
        if (!partialPath.empty())
            DeleteFileW(partialPath.c_str());
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
