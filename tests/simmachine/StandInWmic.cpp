// Stands in for the management tool: an event query answers with a small raw-XML result naming
// the query, as the real tool's /FORMAT:rawxml does. KVO_WMIC=empty writes nothing and fails, as the
// tool does without the right to read a log or with a broken repository.
#include "StandIn.h"

#include <cstdio>

int wmain()
{
    standin::LogStart("wmic");
    if (standin::Setting(L"KVO_WMIC") == L"empty")
        return 1;
    std::string query = standin::Utf8(GetCommandLineW());
    std::string escaped;
    for (const char c : query)
        escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    const std::string xml = "<?xml version=\"1.0\"?>\r\n<COMMAND><REQUEST><COMMANDLINE>" + escaped +
                            "</COMMANDLINE></REQUEST><RESULTS NODE=\"SIMMACHINE\"><CIM>"
                            "<INSTANCE CLASSNAME=\"Win32_NTLogEvent\"><PROPERTY NAME=\"EventCode\" TYPE=\"uint16\">"
                            "<VALUE>7036</VALUE></PROPERTY></INSTANCE></CIM></RESULTS></COMMAND>\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), xml.data(), DWORD(xml.size()), &written, nullptr);
    return 0;
}
