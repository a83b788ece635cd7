// Stands in for the system information tool: "/report <file>" writes a text report, "/nfo <file>"
// its own XML format.
#include "StandIn.h"

#include <shellapi.h>

int wmain()
{
    standin::LogStart("msinfo32");
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv || count < 3)
        return 87;
    const std::wstring option = argv[1];
    bool written = false;
    if (option == L"/report")
        written = standin::WriteAll(argv[2], "System Information report written at the simulated machine\r\n"
                                             "OS Name\tSimulated Windows\r\nSystem Type\tx64-based PC\r\n");
    else if (option == L"/nfo")
        written = standin::WriteAll(argv[2], "<?xml version=\"1.0\"?>\r\n<MsInfo><Metadata><Version>8.0</Version>"
                                             "</Metadata><Category name=\"System Summary\"/></MsInfo>\r\n");
    LocalFree(argv);
    return written ? 0 : 5;
}
