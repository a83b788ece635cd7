#include "ResultFile.h"

#include "FileHash.h"
#include "OutputTree.h"
#include "UniqueHandles.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

using namespace Tallis::ImageUpdate;
using Json = nlohmann::ordered_json;

namespace {

// Flags 0: an unpaired surrogate becomes U+FFFD instead of failing the conversion.
std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string out(size_t(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), needed, nullptr, nullptr);
    return out;
}

Json TextOrNull(const std::wstring& text)
{
    return text.empty() ? Json(nullptr) : Json(Utf8(text));
}

struct HashedFile {
    std::wstring hex;
    DWORD error = 0;
};

// Hashing dominates the cost of the result file: spread the files over the cores.
std::vector<HashedFile> HashFiles(const std::wstring& longRoot, const std::vector<OutputFile>& files)
{
    std::vector<HashedFile> hashes(files.size());
    std::atomic<size_t> next{0};
    auto work = [&]() noexcept {
        std::unique_ptr<FileHasher> hasher;
        try {
            hasher = std::make_unique<FileHasher>();
        } catch (const std::bad_alloc&) {
        }
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            if (files[i].error != 0) {
                hashes[i].error = files[i].error;
                continue;
            }
            try {
                if (!hasher)
                    throw std::bad_alloc();
                hashes[i].error = hasher->Sha256((longRoot + L"\\" + files[i].relativePath).c_str(), hashes[i].hex);
            } catch (const std::bad_alloc&) {
                hashes[i].error = ERROR_NOT_ENOUGH_MEMORY;
            }
        }
    };
    const size_t threadCount = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 4, files.size()});
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < threadCount; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // the calling thread still hashes everything that is left
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    return hashes;
}

Json CollectorDocument(const CollectorResult& c)
{
    Json entry = {{"name", Utf8(c.name)},
                  {"selected", c.selected},
                  {"available", c.available},
                  {"outcome", Utf8(c.outcome)},
                  {"seconds", c.seconds},
                  {"files", c.files},
                  {"bytes", c.bytes}};
    if (c.hasScript) {
        entry["script"] = c.scriptPath.empty()
                              ? Json("carried")
                              : Json({{"path", Utf8(c.scriptPath)}, {"sha256", Utf8(c.scriptSha256)}});
    }
    return entry;
}

Json BuildDocument(const RunResult& result, const std::vector<OutputFile>& files,
                   const std::vector<HashedFile>& hashes)
{
    Json doc;
    doc["schema"] = 1;
    doc["tool"] = {{"name", Utf8(result.toolName)},
                   {"version", Utf8(result.toolVersion)},
                   {"commandLine", Utf8(result.commandLine)}};
    doc["machine"] = {{"computerName", Utf8(result.machine.computerName)},
                      {"osVersion", Utf8(result.machine.osVersion)},
                      {"elevated", result.machine.elevated},
                      {"user", Utf8(result.machine.user)}};
    doc["product"] = {{"layerMode", result.layerMode}, {"markerVolume", TextOrNull(result.markerVolume)}};
    doc["run"] = {{"started", Utf8(result.started)},
                  {"ended", Utf8(result.ended)},
                  {"outputFolder", Utf8(result.outputFolder)},
                  {"uiLanguage", Utf8(result.uiLanguage)},
                  {"outcome", Utf8(result.outcome)}};
    if (!result.stopReason.empty())
        doc["run"]["stopReason"] = Utf8(result.stopReason);
    if (result.hasSpace)
        doc["space"] = {{"volume", Utf8(result.space.volume)},
                        {"freeBefore", result.space.freeBefore},
                        {"estimate", result.space.estimate},
                        {"reserve", result.space.reserve},
                        {"freeAfter", result.space.freeAfter}};
    Json collectors = Json::array();
    for (const CollectorResult& c : result.collectors)
        collectors.push_back(CollectorDocument(c));
    doc["collectors"] = std::move(collectors);
    Json errors = Json::array();
    for (const ErrorEntry& e : result.errors)
        errors.push_back({{"time", Utf8(e.time)}, {"unit", Utf8(e.unit)}, {"text", Utf8(e.text)}});
    doc["errors"] = std::move(errors);
    Json notCollected = Json::array();
    for (const NotCollectedFile& file : result.notCollected)
        notCollected.push_back(
            {{"source", Utf8(file.source)}, {"destination", Utf8(file.destination)}, {"error", file.error}});
    doc["notCollected"] = std::move(notCollected);
    Json list = Json::array();
    for (size_t i = 0; i < files.size(); ++i) {
        Json entry = {{"path", Utf8(files[i].relativePath)}, {"size", files[i].size}};
        for (const auto& [path, originalSize] : result.truncated) {
            if (CompareStringOrdinal(path.c_str(), -1, files[i].relativePath.c_str(), -1, TRUE) == CSTR_EQUAL) {
                entry["truncated"] = true;
                entry["originalSize"] = originalSize;
            }
        }
        if (hashes[i].error == 0) {
            entry["sha256"] = Utf8(hashes[i].hex);
        } else {
            entry["sha256"] = nullptr;
            entry["error"] = hashes[i].error;
        }
        list.push_back(std::move(entry));
    }
    doc["files"] = std::move(list);
    return doc;
}

DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes) noexcept
{
    // A new file only: a name that is there already is never opened or written through.
    unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file)
        return GetLastError();
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
            return GetLastError();
        done += written;
    }
    if (!FlushFileBuffers(file.get()))
        return GetLastError();
    return 0;
}

} // namespace

DWORD ListOutputFiles(const wchar_t* folder, std::vector<OutputFile>& files)
{
    files.clear();
    const std::wstring root = FullLongPath(folder);
    if (root.empty())
        return ERROR_INVALID_PARAMETER;
    std::vector<TreeEntry> entries;
    if (const DWORD error = ListTreeEntries(root, entries))
        return error;
    for (const TreeEntry& entry : entries) {
        if (!entry.folder)
            files.push_back({entry.relativePath, entry.size, 0});
        else if (entry.error != 0)
            files.push_back({entry.relativePath + L"\\", 0, entry.error});
    }
    return 0;
}

DWORD WriteResultFile(const RunResult& result, const wchar_t* outputFolder) noexcept
{
    try {
        const std::wstring root = FullLongPath(outputFolder);
        if (root.empty())
            return ERROR_INVALID_PARAMETER;
        const std::wstring finalPath = root + L"\\" + kResultFileName;
        const std::wstring tempPath = root + L"\\" + kResultTempFileName;

        std::vector<OutputFile> files;
        if (const DWORD error = ListOutputFiles(root.c_str(), files))
            return error;
        std::erase_if(files, [](const OutputFile& f) {
            return CompareStringOrdinal(f.relativePath.c_str(), -1, kResultFileName, -1, TRUE) == CSTR_EQUAL ||
                   CompareStringOrdinal(f.relativePath.c_str(), -1, kResultTempFileName, -1, TRUE) == CSTR_EQUAL;
        });
        const std::vector<HashedFile> hashes = HashFiles(root, files);
        const std::string text =
            BuildDocument(result, files, hashes).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";

        // A stale temporary of an earlier write goes first; removing a name never follows a link.
        DeleteFileW(tempPath.c_str());
        if (const DWORD error = WriteWholeFile(tempPath, text)) {
            if (error != ERROR_FILE_EXISTS)
                DeleteFileW(tempPath.c_str());
            return error;
        }
        if (!MoveFileExW(tempPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = GetLastError();
            DeleteFileW(tempPath.c_str());
            return error;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception&) {
        // nlohmann reports type and encoding faults by exception; none is expected here.
        return ERROR_INVALID_DATA;
    }
}

std::wstring FormatUtcIso8601(const SYSTEMTIME& utc)
{
    wchar_t text[32];
    _snwprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned(utc.wYear), unsigned(utc.wMonth),
               unsigned(utc.wDay), unsigned(utc.wHour), unsigned(utc.wMinute), unsigned(utc.wSecond));
    text[31] = L'\0';
    return text;
}
