#include "ResultFile.h"

#include "FileHash.h"
#include "OutputTree.h"
#include "UniqueHandles.h"
#include "VellocsDiag.h"

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

const wchar_t* CollectorOutcomeName(CollectorRecord::Outcome outcome) noexcept
{
    switch (outcome) {
    case CollectorRecord::Outcome::Ok: return L"ok";
    case CollectorRecord::Outcome::Failed: return L"failed";
    case CollectorRecord::Outcome::Skipped: return L"skipped";
    case CollectorRecord::Outcome::Unavailable: return L"unavailable";
    case CollectorRecord::Outcome::NotSelected: break;
    }
    return L"not-selected";
}

const wchar_t* OsLogOutcomeName(OsLogOutput::Outcome outcome) noexcept
{
    switch (outcome) {
    case OsLogOutput::Outcome::Ok: return L"ok";
    case OsLogOutput::Outcome::Missing: return L"missing";
    case OsLogOutput::Outcome::Empty: return L"empty";
    case OsLogOutput::Outcome::Unavailable: break;
    }
    return L"unavailable";
}

// Every output the OS log step should leave, in the step's order, with what arrived of it.
Json OsLogOutputsDocument(const std::vector<OsLogOutput>& outputs)
{
    Json list = Json::array();
    for (const OsLogOutput& output : outputs) {
        Json entry = {{"name", Utf8(output.name)},
                      {"path", Utf8(output.path)},
                      {"outcome", Utf8(OsLogOutcomeName(output.outcome))}};
        if (!output.reason.empty())
            entry["reason"] = Utf8(output.reason);
        entry["files"] = output.files;
        entry["bytes"] = output.bytes;
        if (!output.method.empty())
            entry["method"] = Utf8(output.method);
        if (output.name == L"raw-event-logs") {
            entry["sourceFiles"] = output.sourceFiles;
            entry["copiedFiles"] = output.files;
            Json missing = Json::array();
            for (const std::wstring& name : output.missingNames)
                missing.push_back(Utf8(name));
            entry["missingNames"] = std::move(missing);
        }
        list.push_back(std::move(entry));
    }
    return list;
}

Json CollectorsDocument(const RunRequest& request, const RunRecord& record)
{
    Json collectors = Json::array();
    for (size_t index = 0; index < record.collectors.size(); ++index) {
        const CollectorRecord& c = record.collectors[index];
        Json entry = {{"name", Utf8(CVellocsDiag::kOutputNames[index])},
                      {"selected", c.selected},
                      {"available", c.available},
                      {"outcome", Utf8(CollectorOutcomeName(c.outcome))},
                      {"seconds", c.seconds},
                      {"files", c.files},
                      {"bytes", c.bytes}};
        // The OS log collector names the script it ran: the carried one, or the file given.
        const bool ran = c.outcome == CollectorRecord::Outcome::Ok || c.outcome == CollectorRecord::Outcome::Failed;
        if (index == size_t(CVellocsDiag::kOsLogs) && ran) {
            entry["script"] = request.script.path.empty() ? Json("carried")
                                                          : Json({{"path", Utf8(request.script.path)},
                                                                  {"sha256", Utf8(request.script.sha256)}});
            if (!record.osLogOutputs.empty())
                entry["outputs"] = OsLogOutputsDocument(record.osLogOutputs);
        }
        collectors.push_back(std::move(entry));
    }
    return collectors;
}

Json RunDocument(const RunRequest& request, const RunRecord& record)
{
    Json doc;
    doc["schema"] = 1;
    doc["tool"] = {{"name", Utf8(kToolName)},
                   {"version", Utf8(record.toolVersion)},
                   {"commandLine", Utf8(record.commandLine)}};
    doc["machine"] = {{"computerName", Utf8(record.machine.computerName)},
                      {"osVersion", Utf8(record.machine.osVersion)},
                      {"elevated", record.machine.elevated},
                      {"user", Utf8(record.machine.user)}};
    doc["product"] = {{"layerMode", request.layerMode}, {"markerVolume", TextOrNull(request.markerVolumeRoot)}};
    doc["run"] = {{"started", Utf8(record.started)},
                  {"ended", Utf8(record.ended)},
                  {"outputFolder", Utf8(record.outputFolder)},
                  {"uiLanguage", Utf8(record.uiLanguage)},
                  {"outcome", Utf8(OutcomeName(record.end))}};
    if (!record.stopReason.empty())
        doc["run"]["stopReason"] = Utf8(record.stopReason);
    if (record.space)
        doc["space"] = {{"volume", Utf8(record.space->volume)},
                        {"freeBefore", record.space->freeBefore},
                        {"estimate", record.space->estimate},
                        {"reserve", record.space->reserve},
                        {"freeAfter", record.freeAfter}};
    doc["collectors"] = CollectorsDocument(request, record);
    Json errors = Json::array();
    for (const RunErrorEntry& e : record.errors)
        errors.push_back({{"time", Utf8(FormatUtcIso8601(e.utcTime))}, {"unit", Utf8(e.unit)}, {"text", Utf8(e.text)}});
    doc["errors"] = std::move(errors);
    Json notCollected = Json::array();
    for (const FileShortfall& file : record.notCollected)
        notCollected.push_back(
            {{"source", Utf8(file.source)}, {"destination", Utf8(file.destination)}, {"error", file.error}});
    doc["notCollected"] = std::move(notCollected);
    return doc;
}

// Whether a copy's destination is the file at relativePath of the output folder (prefix: the
// folder with its separator).
bool IsAt(const std::wstring& prefix, const std::wstring& destination, const std::wstring& relativePath)
{
    return destination.size() > prefix.size() &&
           CompareStringOrdinal(destination.c_str(), int(prefix.size()), prefix.c_str(), int(prefix.size()), TRUE) ==
               CSTR_EQUAL &&
           CompareStringOrdinal(destination.c_str() + prefix.size(), -1, relativePath.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A copy cut to its end, by its place in the output folder; null when the file arrived whole.
const FileShortfall* TruncatedAt(const RunRecord& record, const std::wstring& relativePath)
{
    const std::wstring prefix = record.outputFolder + L"\\";
    for (const FileShortfall& file : record.truncated) {
        if (IsAt(prefix, file.destination, relativePath))
            return &file;
    }
    return nullptr;
}

// The number of names the source of a copy had, when more than one; 0 otherwise.
DWORD LinksAt(const RunRecord& record, const std::wstring& relativePath)
{
    const std::wstring prefix = record.outputFolder + L"\\";
    for (const HardLinkedFile& file : record.hardLinked) {
        if (IsAt(prefix, file.destination, relativePath))
            return file.links;
    }
    return 0;
}

Json FilesDocument(const RunRecord& record, const std::vector<OutputFile>& files, const std::vector<HashedFile>& hashes)
{
    Json list = Json::array();
    for (size_t i = 0; i < files.size(); ++i) {
        Json entry = {{"path", Utf8(files[i].relativePath)}, {"size", files[i].size}};
        if (const FileShortfall* truncated = TruncatedAt(record, files[i].relativePath)) {
            entry["truncated"] = true;
            entry["originalSize"] = truncated->originalSize;
        }
        if (const DWORD links = LinksAt(record, files[i].relativePath))
            entry["links"] = links;
        if (hashes[i].error == 0) {
            entry["sha256"] = Utf8(hashes[i].hex);
        } else {
            entry["sha256"] = nullptr;
            entry["error"] = hashes[i].error;
        }
        list.push_back(std::move(entry));
    }
    return list;
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

DWORD WriteResultFile(const RunRequest& request, const RunRecord& record) noexcept
{
    try {
        const std::wstring root = FullLongPath(record.outputFolder.c_str());
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
        Json document = RunDocument(request, record);
        document["files"] = FilesDocument(record, files, hashes);
        const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";

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
