#pragma once
// Packs an output folder into one standard zip file (deflate, UTF-8 names, Zip64 when needed).
#include <windows.h>

#include <cstdint>

struct ZipArchiveReport {
    uint64_t entries = 0;      // folders and files in the archive
    uint64_t bytesPacked = 0;  // uncompressed bytes of the files packed
    uint64_t skippedFiles = 0; // files that could not be opened or read, and folders that could not
                               // be listed: left out (each logged)
    bool zip64 = false;        // the archive needed Zip64 end records
    bool archiveWritten = false; // a file with the final name exists
};

// Entry names start with the folder's own name ("VellocsDiag_123/VellocsLogs/a.log"); folders are
// entries too, so empty ones survive. The archive is written to a new file beside zipPath that only
// SYSTEM, Administrators and the running account may open (zipPath + ".partial", or another new
// name when that one is taken: an existing name is never opened) and renamed at the end; on
// failure neither name is left behind (an older file with the final name is removed first). A file that cannot be opened or read is left out,
// logged and counted, the rest is packed and the archive kept: the result is then the first such
// error, with report.archiveWritten set. Any other failure returns its Win32 error.
[[nodiscard]] DWORD CreateZipArchive(const wchar_t* folder, const wchar_t* zipPath, ZipArchiveReport& report) noexcept;
