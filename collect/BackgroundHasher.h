#pragma once
// Hashes the files a collection copies while it goes on copying, so that the result file need not
// read them again: on two cores the hashing then costs little more than the copy itself.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// A digest with the size and last-write time the file had while it was hashed; the result file
// uses it only while the file still has both.
struct KnownDigest {
    uint64_t size = 0;
    FILETIME lastWrite{};
    std::wstring hex;
};
// Keyed by the file's path relative to the output folder, upper-cased.
using KnownDigests = std::map<std::wstring, KnownDigest>;

[[nodiscard]] std::wstring DigestKey(const std::wstring& relativePath);

class CBackgroundHasher {
public:
    // folder: the output folder; files outside it are ignored.
    explicit CBackgroundHasher(std::wstring folder);
    ~CBackgroundHasher();
    CBackgroundHasher(const CBackgroundHasher&) = delete;
    CBackgroundHasher& operator=(const CBackgroundHasher&) = delete;

    // Queues a file that was just written completely (a plain or long path).
    void Add(const wchar_t* path) noexcept;
    // Waits until every queued file is hashed and hands over the digests.
    [[nodiscard]] KnownDigests Finish();

private:
    void Work() noexcept;

    std::wstring m_prefix; // the output folder and a backslash, upper-cased
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::wstring> m_queue; // relative paths
    KnownDigests m_digests;
    bool m_stopping = false;
    size_t m_busy = 0;
    std::thread m_worker;
    std::wstring m_folder;
};
