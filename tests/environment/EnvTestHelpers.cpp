#include "EnvTestHelpers.h"

#include "DiagnosticLog.h"
#include "LayerEnvironment.h"
#include "UniqueHandles.h"

using namespace kvotest;

namespace envtest {

void WriteTree(const std::wstring& root, std::initializer_list<std::pair<std::wstring, std::string>> files)
{
    for (const auto& [relative, content] : files) {
        const std::wstring path = root + L"\\" + relative;
        for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
            CreateDirectoryW(LongForm(path.substr(0, at)).c_str(), nullptr);
        WriteFileBytes(path, content);
    }
}

int CountInFile(const std::wstring& path, const std::string& needle)
{
    const std::string text = ReadFileBytes(path);
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

void InitializeLogForTest(const ScratchFolder& folder)
{
    Tallis::ImageUpdate::InitializeLog((folder / L"full.log").c_str(), (folder / L"errors.log").c_str());
}

void RemoveMarkers()
{
    for (const wchar_t* drive : {L"C:\\", L"E:\\", L"F:\\"})
        for (const wchar_t* marker : kMarkerFiles)
            RemoveTree(std::wstring(drive) + marker); // a file, or a folder or link a test made
}

std::string DriveFolder(char letter)
{
    return Narrow(GetEnv(L"KVO_SIM_DRIVES")) + "/" + char(tolower(letter));
}

DriverKey::DriverKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\VantfsFilter");
}

DriverKey::~DriverKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\VantfsFilter");
}

void DriverKey::Create()
{
    Tallis::ImageUpdate::unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverInstanceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
}

void DriverKey::SetValue(DWORD type, const void* data, DWORD size)
{
    Tallis::ImageUpdate::unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverInstanceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), kDriverStateValue, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
}

} // namespace envtest
