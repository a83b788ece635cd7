#include "FileHash.h"

#include "CngApi.h"
#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <new>

using namespace Tallis::ImageUpdate;

namespace {

constexpr DWORD kBlockBytes = 1u << 20;
constexpr DWORD kDigestBytes = 32;

// The digest of what the hash took in, as hex. 0 or the Windows error.
DWORD Finish(const CngApi& cng, BCRYPT_HASH_HANDLE hash, std::wstring& hexOut) noexcept
{
    UCHAR digest[kDigestBytes];
    const NTSTATUS status = cng.finishHash(hash, digest, kDigestBytes, 0);
    if (!BCRYPT_SUCCESS(status))
        return Win32FromStatus(status);
    try {
        hexOut = LowerHex(digest, kDigestBytes);
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace

struct FileHasher::Algorithm {
    unique_bcrypt_algorithm handle;
};

FileHasher::FileHasher() : m_algorithm(new Algorithm), m_block(new unsigned char[kBlockBytes])
{
    m_cng = LoadCng(m_openError);
    if (!m_cng)
        return;
    const NTSTATUS status =
        m_cng->openAlgorithmProvider(m_algorithm->handle.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
        m_algorithm->handle.reset();
        m_openError = Win32FromStatus(status);
    }
}

FileHasher::~FileHasher() = default;

DWORD FileHasher::HashOpenFile(HANDLE file, std::wstring& hexOut) noexcept
{
    // With no object buffer CNG allocates the hash state itself.
    unique_bcrypt_hash hash;
    NTSTATUS status = m_cng->createHash(m_algorithm->handle.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status))
        return Win32FromStatus(status);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, m_block.get(), kBlockBytes, &read, nullptr))
            return GetLastError();
        if (read == 0)
            break;
        status = m_cng->hashData(hash.get(), m_block.get(), read, 0);
        if (!BCRYPT_SUCCESS(status))
            return Win32FromStatus(status);
    }
    return Finish(*m_cng, hash.get(), hexOut);
}

DWORD FileHasher::Sha256(const wchar_t* path, std::wstring& hexOut) noexcept
{
    hexOut.clear();
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    if (!m_algorithm->handle)
        return m_openError ? m_openError : DWORD(ERROR_GEN_FAILURE);
    try {
        PathBuilder longPath(path, false);
        unique_hfile file(CreateFileW(longPath.GetLongPath(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file)
            return GetLastError();
        const DWORD error = HashOpenFile(file.get(), hexOut);
        if (error != 0)
            hexOut.clear();
        return error;
    } catch (const std::bad_alloc&) {
        hexOut.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD FileHasher::Sha256(const void* bytes, size_t size, std::wstring& hexOut) noexcept
{
    hexOut.clear();
    if (!m_algorithm->handle)
        return m_openError ? m_openError : DWORD(ERROR_GEN_FAILURE);
    unique_bcrypt_hash hash;
    NTSTATUS status = m_cng->createHash(m_algorithm->handle.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    const auto* data = static_cast<const unsigned char*>(bytes);
    for (size_t done = 0; BCRYPT_SUCCESS(status) && done < size;) {
        const ULONG chunk = ULONG(size - done < kBlockBytes ? size - done : kBlockBytes);
        status = m_cng->hashData(hash.get(), const_cast<unsigned char*>(data + done), chunk, 0);
        done += chunk;
    }
    if (!BCRYPT_SUCCESS(status))
        return Win32FromStatus(status);
    return Finish(*m_cng, hash.get(), hexOut);
}
