#pragma once
// Running tovani.exe from a test under Wine: as a debugged child whose debug
// output (the start-up log) is read as a debugger reads it, with its windows
// found and answered from the same Wine desktop.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <functional>
#include <string>
#include <vector>

#include "common/text.h"

namespace ProgramRunning {

inline constexpr char kService[] = "https://127.0.0.1:47443";

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& text);
std::wstring ProgramPath();

// A process the program started, seen as it was created.
struct ChildProcess {
    DWORD id = 0;
    std::string commandLine; // UTF-8
    DWORD startedTick = 0;   // GetTickCount() then
    std::string image;       // the program file it runs, UTF-8
};

struct ProgramRun {
    DWORD exitCode = 259;
    bool ended = false;
    std::vector<std::string> log; // the debug output, line by line
    std::vector<ChildProcess> children; // only when the run follows them; the browser process aside
};

// Runs a program (tovani.exe unless given) with one argument as a debugged
// child; watch is called about every 50 ms (return false to stop watching)
// while the child runs. With followChildren the processes it starts are
// debugged too, so that each is seen, command line and all, however briefly
// it lives.
ProgramRun RunProgram(const WString& argument, const std::function<bool()>& watch, int timeoutMs = 60000,
                      const std::wstring& program = {}, bool followChildren = false);

bool Has(const std::vector<std::string>& lines, const std::string& line);
bool HasPrefix(const std::vector<std::string>& lines, const std::string& prefix);

// The whole virtual screen as a PNG beside the test state; the path, or empty.
std::string SaveScreenshot(const std::string& name);

class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    ~GdiplusSession() { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

std::wstring RegistryString(const std::wstring& key, const wchar_t* name, DWORD* bytes = nullptr,
                            HKEY root = HKEY_CURRENT_USER);

// A top-level window of a class (and a caption, when given), visible.
HWND VisibleWindow(const wchar_t* className, const wchar_t* caption = nullptr);
// The text of a system message box.
std::string MessageBoxText(HWND box);
// The visible message box with this caption (UTF-8), or null.
HWND MessageBoxWindow(const std::string& caption);

} // namespace ProgramRunning
