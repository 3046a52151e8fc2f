#include "tests/player_win/program_run.h"

#include "common/process_command_line_win.h"

#include <algorithm>
#include <set>

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace ProgramRunning {

std::wstring Wide(const std::string& utf8) {
    const WString w = Utf8ToWide(utf8);
    return std::wstring(w.begin(), w.end());
}

std::wstring ProgramPath() { return Wide(TestSupport::Env("TOVANI_BIN")) + L"\\tovani.exe"; }

// Runs tovani.exe with one argument as a debugged child; watch is called
// about every 50 ms (return false to stop watching) while the child runs.
ProgramRun RunProgram(const WString& argument, const std::function<bool()>& watch, int timeoutMs,
                      const std::wstring& program, bool followChildren) {
    ProgramRun run;
    std::wstring commandLine = L"\"" + (program.empty() ? ProgramPath() : program) + L"\"";
    if (!argument.empty()) commandLine += L" \"" + std::wstring(argument.begin(), argument.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        followChildren ? DEBUG_PROCESS : DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "tovani.exe cannot be started: " << GetLastError();
        return run;
    }
    std::string pending;
    bool watching = true;
    std::set<DWORD> liveChildren;
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    // The program's end, then its children's (a few seconds at most).
    DWORD childrenEnd = end;
    while ((!run.ended || (!liveChildren.empty() && GetTickCount() < childrenEnd)) && GetTickCount() < end) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, 50)) {
            if (watching && watch && !run.ended) watching = watch();
            continue;
        }
        DWORD status = DBG_CONTINUE;
        const bool fromChild = event.dwProcessId != process.dwProcessId;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            if (fromChild) break;
            const auto& info = event.u.DebugString;
            std::string text(info.nDebugStringLength, '\0');
            SIZE_T read = 0;
            if (!info.fUnicode &&
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(), text.size(), &read)) {
                text.resize(read);
                if (!text.empty() && text.back() == '\0') text.pop_back();
                pending += text;
                for (std::size_t at; (at = pending.find('\n')) != std::string::npos; pending.erase(0, at + 1)) {
                    if (at > 0) run.log.push_back(pending.substr(0, at));
                }
            }
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            if (fromChild) {
                wchar_t image[MAX_PATH] = {};
                DWORD size = MAX_PATH;
                if (!QueryFullProcessImageNameW(event.u.CreateProcessInfo.hProcess, 0, image, &size)) size = 0;
                // The runtime's browser process is the browser's, not one the program chose to start.
                const std::wstring imagePath(image, size);
                if (imagePath.size() < 19 || _wcsicmp(imagePath.c_str() + imagePath.size() - 19, L"\\msedgewebview2.exe") != 0)
                    run.children.push_back({event.dwProcessId, Narrow(ProcessCommandLine(event.u.CreateProcessInfo.hProcess)),
                                            GetTickCount(), Narrow(imagePath)});
                liveChildren.insert(event.dwProcessId);
            }
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            if (fromChild) {
                liveChildren.erase(event.dwProcessId);
                break;
            }
            run.exitCode = event.u.ExitProcess.dwExitCode;
            run.ended = true;
            childrenEnd = GetTickCount() + 5000;
            break;
        default: break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    if (!run.ended) {
        ADD_FAILURE() << "the program did not end in time";
        TerminateProcess(process.hProcess, 99);
        DebugActiveProcessStop(process.dwProcessId);
        WaitForSingleObject(process.hProcess, 5000);
    }
    // Children still running go on by themselves, no longer debugged.
    for (const DWORD child : liveChildren) DebugActiveProcessStop(child);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

// The whole virtual screen as a PNG beside the test state.
std::string SaveScreenshot(const std::string& name) {
    const std::string path = TestSupport::Env("TOVANI_TEST_STATE") + "/" + name;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    Gdiplus::GpBitmap* bitmap = nullptr;
    bool saved = false;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(picture, nullptr, &bitmap) == Gdiplus::Ok) {
        // The PNG encoder's class id.
        const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        saved = Gdiplus::DllExports::GdipSaveImageToFile(bitmap, Wide(path).c_str(), &png, nullptr) == Gdiplus::Ok;
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    }
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved ? path : std::string();
}


std::wstring RegistryString(const std::wstring& key, const wchar_t* name, DWORD* bytes, HKEY root) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    DWORD type = 0;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return L"<no key>";
    const LONG result = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ) return L"<no value>";
    if (bytes != nullptr) *bytes = size;
    return value;
}

std::string Narrow(const std::wstring& text) { return WideToUtf8(WString(text.begin(), text.end())); }

// A top-level window of a class (and a caption, when given), visible.
HWND VisibleWindow(const wchar_t* className, const wchar_t* caption) {
    HWND window = FindWindowW(className, caption);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}


std::string MessageBoxText(HWND box) {
    // The box's text control (id 0xFFFF in the system's message box).
    HWND label = GetDlgItem(box, 0xFFFF);
    wchar_t buffer[1024] = {};
    if (label != nullptr) GetWindowTextW(label, buffer, 1024);
    return Narrow(buffer);
}

HWND MessageBoxWindow(const std::string& caption) { return VisibleWindow(L"#32770", Wide(caption).c_str()); }

} // namespace ProgramRunning
