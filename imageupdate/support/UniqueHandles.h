#pragma once
// Owners for Win32 handles: "invalid" is part of each type, so no caller closes a handle by hand.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace Tallis::ImageUpdate {

template <typename T, auto Close, INT_PTR InvalidValue = 0>
class unique_any {
    // Pointer-typed handles cannot take INVALID_HANDLE_VALUE as a template argument.
    static T Invalid() noexcept { return (T)InvalidValue; }

public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    [[nodiscard]] T get() const noexcept { return value_; }
    [[nodiscard]] bool is_valid() const noexcept { return value_ != Invalid(); }
    explicit operator bool() const noexcept { return is_valid(); }

    void reset(T value = Invalid()) noexcept
    {
        if (value_ != Invalid()) {
            // Closing must not disturb the caller's last-error value.
            const DWORD saved = GetLastError();
            Close(value_);
            SetLastError(saved);
        }
        value_ = value;
    }
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid()); }
    // For out-parameters: closes the current value first.
    T* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid();
};

namespace detail {
inline void CloseHandleFn(HANDLE h) noexcept { ::CloseHandle(h); }
inline void FindCloseFn(HANDLE h) noexcept { ::FindClose(h); }
inline void RegCloseKeyFn(HKEY h) noexcept { ::RegCloseKey(h); }
inline void FreeLibraryFn(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void CloseDesktopFn(HDESK h) noexcept { ::CloseDesktop(h); }
inline void UnmapViewFn(void* p) noexcept { ::UnmapViewOfFile(p); }
inline void FreeFn(void* p) noexcept { std::free(p); }
inline void FCloseFn(FILE* f) noexcept { std::fclose(f); }
inline void LocalFreeFn(HLOCAL h) noexcept { ::LocalFree(h); }
inline void CoTaskMemFreeFn(void* p) noexcept { ::CoTaskMemFree(p); }
} // namespace detail

using unique_handle = unique_any<HANDLE, detail::CloseHandleFn>;
using unique_hfile = unique_any<HANDLE, detail::CloseHandleFn, -1>;
using unique_hfind = unique_any<HANDLE, detail::FindCloseFn, -1>;
using unique_hkey = unique_any<HKEY, detail::RegCloseKeyFn>;
using unique_hmodule = unique_any<HMODULE, detail::FreeLibraryFn>;
using unique_hdesk = unique_any<HDESK, detail::CloseDesktopFn>;
using unique_mapview = unique_any<void*, detail::UnmapViewFn>;
// A heap block from malloc/calloc (record blocks of the snapshot library).
using unique_block = unique_any<void*, detail::FreeFn>;
// A C runtime stream (record streams, text dumps).
using unique_file = unique_any<FILE*, detail::FCloseFn>;
// Memory that an API hands out for LocalFree (security descriptors, SID texts, argument vectors).
using unique_hlocal = unique_any<HLOCAL, detail::LocalFreeFn>;
// Memory that the shell hands out for CoTaskMemFree (the folder browser's item lists).
using unique_cotaskmem = unique_any<void*, detail::CoTaskMemFreeFn>;

} // namespace Tallis::ImageUpdate
