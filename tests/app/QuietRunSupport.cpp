#include "QuietRunSupport.h"

#include "AppDriver.h"
#include "TestSupport.h"
#include "UniqueHandles.h"

#include <map>
#include <sstream>

namespace kvoapp {
namespace {

std::wstring ScratchFile(const wchar_t* stem)
{
    return kvotest::TempFolder() + stem + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64());
}

std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

} // namespace

std::wstring BuiltProgramPath()
{
    return WinePath(kvotest::Narrow(kvotest::GetEnv(L"KVO_BINARY_DIR")) + "/app/KvoVellocsDiag.exe");
}

ProgramRun RunProgram(const std::wstring& arguments, DWORD timeoutMs)
{
    ProgramRun run;
    const std::wstring output = ScratchFile(L"kvo-run-");
    {
        AppProcess program;
        if (!program.Start(BuiltProgramPath(), {}, arguments, output)) {
            run.output = "the program could not be started: CreateProcessW failed, Error:" +
                         std::to_string(program.StartError());
            return run;
        }
        run.exitCode = program.WaitForExit(timeoutMs);
    }
    run.output = kvotest::ReadFileBytes(output);
    DeleteFileW(output.c_str());
    return run;
}

std::wstring FindOutputFolder(const std::wstring& base)
{
    WIN32_FIND_DATAW entry;
    Tallis::ImageUpdate::unique_hfind search(FindFirstFileW((base + L"\\VellocsDiag_*").c_str(), &entry));
    if (!search)
        return {};
    std::wstring found;
    int folders = 0;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            found = base + L"\\" + entry.cFileName;
            ++folders;
        }
    } while (FindNextFileW(search.get(), &entry));
    return folders == 1 ? found : std::wstring();
}

::testing::AssertionResult ReadResultFile(const std::wstring& folder, nlohmann::json& result)
{
    const std::wstring path = folder + L"\\KvoVellocsDiag.result.json";
    if (!kvotest::FileExists(path))
        return ::testing::AssertionFailure() << "no result file in " << kvotest::Narrow(folder);
    result = nlohmann::json::parse(kvotest::ReadFileBytes(path), nullptr, false);
    if (result.is_discarded())
        return ::testing::AssertionFailure() << "the result file is not JSON";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult FilesMatchFolder(const nlohmann::json& result, const std::wstring& folder)
{
    const std::wstring listing = ScratchFile(L"kvo-sha-");
    const std::string command = "cd " + Quoted(kvotest::UnixPath(folder)) +
                                " && find . -type f ! -name KvoVellocsDiag.result.json -printf '%s %P\\n' > " +
                                Quoted(kvotest::UnixPath(listing) + ".sizes") +
                                " && find . -type f ! -name KvoVellocsDiag.result.json -print0 | xargs -0 -r "
                                "sha256sum > " + Quoted(kvotest::UnixPath(listing));
    if (kvotest::RunUnixShell(command) != 0)
        return ::testing::AssertionFailure() << "sha256sum failed";
    // path (backslashes) -> {size, digest}
    std::map<std::string, std::pair<unsigned long long, std::string>> expected;
    {
        std::istringstream sizes(kvotest::ReadFileBytes(listing + L".sizes"));
        std::string line;
        while (std::getline(sizes, line)) {
            const size_t blank = line.find(' ');
            std::string path = line.substr(blank + 1);
            for (char& c : path)
                c = c == '/' ? '\\' : c;
            expected[path].first = std::stoull(line.substr(0, blank));
        }
        std::istringstream digests(kvotest::ReadFileBytes(listing));
        while (std::getline(digests, line)) {
            std::string path = line.substr(66); // digest, two blanks, "./"
            if (path.rfind("./", 0) == 0)
                path = path.substr(2);
            for (char& c : path)
                c = c == '/' ? '\\' : c;
            expected[path].second = line.substr(0, 64);
        }
    }
    DeleteFileW(listing.c_str());
    DeleteFileW((listing + L".sizes").c_str());

    if (!result.contains("files") || !result["files"].is_array())
        return ::testing::AssertionFailure() << "no files array";
    size_t listed = 0;
    for (const auto& file : result["files"]) {
        const std::string path = file.value("path", "");
        const auto found = expected.find(path);
        if (found == expected.end())
            return ::testing::AssertionFailure() << "listed but not in the folder: " << path;
        if (file.value("size", 0ull) != found->second.first)
            return ::testing::AssertionFailure() << "size of " << path;
        if (!file["sha256"].is_string() || file["sha256"].get<std::string>() != found->second.second)
            return ::testing::AssertionFailure() << "sha256 of " << path << ": " << file["sha256"].dump()
                                                 << " vs " << found->second.second;
        ++listed;
    }
    if (listed != expected.size())
        return ::testing::AssertionFailure() << listed << " files listed, " << expected.size() << " in the folder";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ArchiveMatchesFolder(const std::wstring& archive, const std::wstring& folder)
{
    const std::string script = kvotest::Narrow(kvotest::GetEnv(L"KVO_SOURCE_DIR")) + "/tests/app/check-archive.py";
    const int code = kvotest::RunUnixShell("python3 " + Quoted(script) + " " + Quoted(kvotest::UnixPath(archive)) +
                                           " " + Quoted(kvotest::UnixPath(folder)) + " && unzip -tqq " +
                                           Quoted(kvotest::UnixPath(archive)));
    if (code != 0)
        return ::testing::AssertionFailure() << "the archive check failed with " << code;
    return ::testing::AssertionSuccess();
}

} // namespace kvoapp
