#pragma once
// Every test seam of the collection library, in one place: what a test cannot wait for or fill.
// Each takes effect atomically for later calls; the value named restores the real behaviour.
#include <windows.h>

#include <cstdint>

// The OS log collector's clock for the cut-off date (null: GetLocalTime).
using LocalTimeFn = SYSTEMTIME (*)();
void SetLocalTimeForTest(LocalTimeFn source) noexcept;

// A size or offset at or above bytes, or an entry count at or above entries, takes the archive's
// Zip64 forms (0xFFFFFFFF and 0xFFFF: the real limits).
void SetZip64ThresholdsForTest(uint64_t bytes, uint32_t entries) noexcept;

// The free-space check's estimate, a fixed number of bytes to let a disk fill up during a run
// (ULLONG_MAX: the collectors' own estimate).
void SetEstimateForTest(ULONGLONG bytes) noexcept;

// Replaces CreateDesktopW for the OS log step's desktop: one that cannot be made, or one whose name
// and security a test records (null: CreateDesktopW).
using DesktopCreateFn = HDESK (*)(const wchar_t* name, ACCESS_MASK access, SECURITY_ATTRIBUTES* security);
void SetDesktopCreateForTest(DesktopCreateFn create) noexcept;
