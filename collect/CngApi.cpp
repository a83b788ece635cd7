#include "CngApi.h"

#include <memory>
#include <new>

using namespace Tallis::ImageUpdate;

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& function) noexcept
{
    function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

// Loaded with the first use and kept for the process's life: hashing threads share it.
struct LoadedCng {
    unique_hmodule module;
    CngApi api;
    DWORD error = 0;

    LoadedCng() noexcept
    {
        module.reset(LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!module) {
            error = GetLastError();
            return;
        }
        const HMODULE m = module.get();
        const bool all = Resolve(m, "BCryptOpenAlgorithmProvider", api.openAlgorithmProvider) &&
                         Resolve(m, "BCryptCloseAlgorithmProvider", api.closeAlgorithmProvider) &&
                         Resolve(m, "BCryptCreateHash", api.createHash) && Resolve(m, "BCryptHashData", api.hashData) &&
                         Resolve(m, "BCryptFinishHash", api.finishHash) &&
                         Resolve(m, "BCryptDestroyHash", api.destroyHash) &&
                         Resolve(m, "BCryptGenRandom", api.genRandom);
        if (!all)
            error = ERROR_PROC_NOT_FOUND;
    }
};

const LoadedCng& Loaded() noexcept
{
    static const LoadedCng loaded;
    return loaded;
}

} // namespace

const CngApi* LoadCng(DWORD& error) noexcept
{
    const LoadedCng& loaded = Loaded();
    error = loaded.error;
    return loaded.error == 0 ? &loaded.api : nullptr;
}

void cng_detail::CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept
{
    DWORD error = 0;
    if (const CngApi* cng = LoadCng(error))
        cng->closeAlgorithmProvider(algorithm, 0);
}

void cng_detail::DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept
{
    DWORD error = 0;
    if (const CngApi* cng = LoadCng(error))
        cng->destroyHash(hash);
}

std::wstring LowerHex(const unsigned char* bytes, size_t count)
{
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring hex(count * 2, L'0');
    for (size_t i = 0; i < count; ++i) {
        hex[2 * i] = kHex[bytes[i] >> 4];
        hex[2 * i + 1] = kHex[bytes[i] & 0x0F];
    }
    return hex;
}

DWORD RandomHex(size_t bytes, std::wstring& hex) noexcept
{
    hex.clear();
    DWORD error = 0;
    const CngApi* cng = LoadCng(error);
    if (!cng)
        return error;
    try {
        std::unique_ptr<UCHAR[]> random(new UCHAR[bytes]);
        const LONG status = cng->genRandom(nullptr, random.get(), ULONG(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status))
            return Win32FromStatus(status);
        hex = LowerHex(random.get(), bytes);
        return 0;
    } catch (const std::bad_alloc&) {
        hex.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
