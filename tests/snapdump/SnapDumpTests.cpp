// snapdump run as a user runs it: a separate process with its output in files.
#include "RegRecordBytes.h"
#include "SortedLinkList.h"
#include "TestSupport.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace Tallis::ImageUpdate;

namespace {

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::wstring SnapdumpPath()
{
    std::wstring path = L"Z:" + kvotest::Widen(KVO_SNAPDUMP_EXE);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

class SnapDump : public ::testing::Test {
protected:
    kvotest::ScratchFolder scratch{L"snapdump"};

    // Runs snapdump with args (already quoted where needed), output and errors into files;
    // a run that overruns 60 s is ended and fails the test.
    RunResult Run(const std::wstring& args)
    {
        RunResult result;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        // Fresh names per run: under Wine the console host of a finished run may still hold
        // its copies of the handles for a moment.
        static int s_run = 0;
        const std::wstring serial = std::to_wstring(++s_run);
        const std::wstring outPath = scratch / (L"stdout" + serial + L".txt");
        const std::wstring errPath = scratch / (L"stderr" + serial + L".txt");
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        unique_hfile out(CreateFileW(outPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        unique_hfile err(CreateFileW(errPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(out && err);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        std::wstring commandLine = L"\"" + SnapdumpPath() + L"\" " + args;
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                            nullptr, nullptr, &startup, &process);
        EXPECT_TRUE(started) << GetLastError();
        if (!started)
            return result;
        unique_handle processHandle(process.hProcess);
        unique_handle threadHandle(process.hThread);
        if (WaitForSingleObject(processHandle.get(), 60000) != WAIT_OBJECT_0) {
            TerminateProcess(processHandle.get(), 99);
            WaitForSingleObject(processHandle.get(), 5000);
            ADD_FAILURE() << "snapdump overran";
        }
        GetExitCodeProcess(processHandle.get(), &result.exitCode);
        out.reset();
        err.reset();
        result.out = kvotest::ReadFileBytes(outPath);
        result.err = kvotest::ReadFileBytes(errPath);
        return result;
    }

    std::wstring WriteStream(const std::wstring& name, const std::string& bytes)
    {
        const std::wstring path = scratch / name;
        kvotest::WriteFileBytes(path, bytes);
        return path;
    }

    // The dump that the library itself writes for the same bytes.
    std::string ExpectedDump(const std::wstring& streamPath, int expectedLoad)
    {
        SortedLinkList list;
        FILE* in = _wfopen(streamPath.c_str(), L"rb");
        EXPECT_NE(in, nullptr);
        if (!in)
            return {};
        EXPECT_EQ(list.Load(in), expectedLoad);
        fclose(in);
        const std::wstring dumpPath = scratch / L"expected.txt";
        FILE* out = _wfopen(dumpPath.c_str(), L"wt");
        list.WriteText(out);
        fclose(out);
        return kvotest::ReadFileBytes(dumpPath);
    }

    static std::string LastLine(const std::string& text)
    {
        std::string trimmed = text;
        while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r'))
            trimmed.pop_back();
        const size_t start = trimmed.find_last_of('\n');
        return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
    }

    static std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
};

TEST_F(SnapDump, DumpsAListOfEveryTypeIntoATextFile)
{
    const std::wstring stream = WriteStream(L"every type.bin", regtest::EveryTypeStream());
    const std::wstring text = scratch / L"dump out.txt";
    const RunResult run = Run(Quoted(stream) + L" " + Quoted(text));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::string expected = ExpectedDump(stream, 0);
    EXPECT_GT(expected.size(), 500u);
    EXPECT_EQ(kvotest::ReadFileBytes(text), expected);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(LastLine(run.err), "snapdump: 13 records read (2 string, 3 registry key, 4 registry value, "
                                 "2 file-id map, 2 group); stream read whole");
}

TEST_F(SnapDump, WritesToStandardOutputWithoutATextFile)
{
    const std::wstring stream = WriteStream(L"every.bin", regtest::EveryTypeStream());
    const RunResult run = Run(Quoted(stream));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, ExpectedDump(stream, 0));
}

TEST_F(SnapDump, TruncatedStreamDumpsWhatWasReadAndExitsWithOne)
{
    const std::vector<std::string> entries = regtest::EveryTypeEntries();
    std::string bytes = regtest::U32(std::uint32_t(entries.size()));
    for (size_t i = 0; i < 4; ++i)
        bytes += entries[i];
    bytes += entries[4].substr(0, entries[4].size() / 2);
    const std::wstring stream = WriteStream(L"cut.bin", bytes);
    const RunResult run = Run(Quoted(stream));
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    const std::string expected = ExpectedDump(stream, -1);
    EXPECT_NE(expected.find("[\\Registry\\Machine\\Software\\Vendor\\Sub]"), std::string::npos);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(LastLine(run.err), "snapdump: 8 records read (1 string, 2 registry key, 4 registry value, "
                                 "1 file-id map); stream stopped early after 4 of 9 top-level records");
}

TEST_F(SnapDump, EmptyFileStopsAtOnce)
{
    const std::wstring stream = WriteStream(L"empty.bin", "");
    const RunResult run = Run(Quoted(stream));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(LastLine(run.err), "snapdump: 0 records read; stream stopped early");
}

TEST_F(SnapDump, MissingFileIsExitCodeTwo)
{
    const RunResult run = Run(Quoted(scratch / L"no such file.bin"));
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.err.find("cannot open"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(SnapDump, TextFileThatCannotBeCreatedIsExitCodeTwo)
{
    const std::wstring stream = WriteStream(L"every.bin", regtest::EveryTypeStream());
    const RunResult run = Run(Quoted(stream) + L" " + Quoted(scratch / L"missing\\dump.txt"));
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.err.find("cannot create"), std::string::npos) << run.err;
}

TEST_F(SnapDump, UsageErrorsAreExitCodeTwo)
{
    for (const std::wstring& args : {std::wstring(), std::wstring(L"a b c")}) {
        const RunResult run = Run(args);
        EXPECT_EQ(run.exitCode, 2u) << kvotest::Narrow(args);
        EXPECT_NE(run.err.find("usage: snapdump <list file> [<text file>]"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(SnapDump, HelpExplainsItself)
{
    const RunResult run = Run(L"--help");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out.rfind("usage: snapdump <list file> [<text file>]", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("Exit code"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

} // namespace
