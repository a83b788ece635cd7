#include "BackgroundHasher.h"

#include "FileHash.h"
#include "PathBuilder.h"

#include <memory>

namespace {

std::wstring UpperCase(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(text.data(), DWORD(text.size()));
    return text;
}

std::wstring WithoutLongPrefix(const wchar_t* path)
{
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0)
        return L"\\\\" + std::wstring(path + 8);
    if (wcsncmp(path, L"\\\\?\\", 4) == 0)
        return path + 4;
    return path;
}

bool ReadStamp(const std::wstring& path, uint64_t& size, FILETIME& lastWrite) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    lastWrite = data.ftLastWriteTime;
    return true;
}

} // namespace

std::wstring DigestKey(const std::wstring& relativePath)
{
    return UpperCase(relativePath);
}

CBackgroundHasher::CBackgroundHasher(std::wstring folder)
    : m_prefix(UpperCase(WithoutLongPrefix(folder.c_str())) + L"\\"), m_folder(std::move(folder))
{
    m_worker = std::thread([this] { Work(); });
}

CBackgroundHasher::~CBackgroundHasher()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void CBackgroundHasher::Add(const wchar_t* path) noexcept
{
    try {
        const std::wstring full = UpperCase(WithoutLongPrefix(path));
        if (full.size() <= m_prefix.size() || full.compare(0, m_prefix.size(), m_prefix) != 0)
            return;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_queue.push_back(WithoutLongPrefix(path).substr(m_prefix.size()));
        }
        m_changed.notify_all();
    } catch (...) {
        // The result file hashes what is not known here.
    }
}

KnownDigests CBackgroundHasher::Finish()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return m_queue.empty() && m_busy == 0; });
    return std::move(m_digests);
}

void CBackgroundHasher::Work() noexcept
{
    std::unique_ptr<FileHasher> hasher;
    try {
        hasher = std::make_unique<FileHasher>();
    } catch (...) {
    }
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const std::wstring relative = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_busy;
        lock.unlock();
        try {
            Tallis::ImageUpdate::PathBuilder path(m_folder.c_str(), relative.c_str(), false);
            const std::wstring longPath = path.GetLongPath();
            KnownDigest digest;
            uint64_t sizeAfter = 0;
            FILETIME writeAfter{};
            // A file that changed while it was hashed is left to the result file.
            if (hasher && ReadStamp(longPath, digest.size, digest.lastWrite) &&
                hasher->Sha256(longPath.c_str(), digest.hex) == 0 && ReadStamp(longPath, sizeAfter, writeAfter) &&
                sizeAfter == digest.size && CompareFileTime(&writeAfter, &digest.lastWrite) == 0) {
                std::lock_guard<std::mutex> relock(m_lock);
                m_digests[DigestKey(relative)] = std::move(digest);
            }
        } catch (...) {
        }
        lock.lock();
        --m_busy;
        m_changed.notify_all();
    }
}
