// The Windows player: tovani.exe [LINK]
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <vector>

#include "app/startup_shell_win.h"
#include "app/usage.h"
#include "player/pdf_watermark_process_win.h"
#include "player/system_print_win.h"

namespace {

std::vector<WString> CommandLineArguments() {
    std::vector<WString> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    LocalFree(argv);
    return args;
}

// A program of the GUI subsystem has no console of its own: the text goes
// to the output it was given (a pipe or file), else to the console of the
// program that started it, if any, else nowhere.
void PrintInformation(const std::string& text) {
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
        // The console's prompt came back already: start on a line of its own.
        const std::string shown = "\r\n" + text;
        WriteFile(console, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
        CloseHandle(console);
    }
    FreeConsole();
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandTail, int) {
    // Help and version touch nothing: no window, no browser, no service, no registry.
    const std::vector<WString> args = CommandLineArguments();
    // The bounded processes that watermark a document to print and draw it for the printer.
    if (IsPrintProcessMode(args)) return RunPrintProcess(args);
    if (const std::optional<std::string> text = InformationRequest(args)) {
        PrintInformation(*text);
        return 0;
    }
    // The user-interface thread is a single-threaded apartment: the browser
    // runtime calls back on it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR gdiplusToken = 0;
    const bool gdiplus = Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) == Gdiplus::Ok;

    int code = 1;
    {
        WinStartupShell shell(instance);
        const WString rawTail = commandTail != nullptr ? WString(reinterpret_cast<const char16_t*>(commandTail)) : WString();
        code = RunStartup(shell, args, rawTail);
        shell.Shutdown();
    }

    if (gdiplus) Gdiplus::GdiplusShutdown(gdiplusToken);
    if (SUCCEEDED(com)) CoUninitialize();
    // A print's worker may still wait on its fetch: end it with the process
    // rather than tear down what it uses under it.
    if (WebView::DocumentPrintsUnderWay()) ExitProcess(static_cast<UINT>(code));
    return code;
}
