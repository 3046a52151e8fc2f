// tovani-tool: the project's command-line tool (link sealing and inspection,
// service calls, pins, identity, diagnostic codes).
#include <string>
#include <vector>

#include "tools/tool/commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    // Byte-exact output, so both builds print the same bytes.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<WString> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    return RunTool(args);
}
#else
int main(int argc, char** argv) {
    std::vector<WString> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8ToWide(argv[i]));
    return RunTool(args);
}
#endif
