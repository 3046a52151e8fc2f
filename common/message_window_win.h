#pragma once
// Windows backend only: a message-only window of the calling thread, for
// work finished on another thread to be handed back to it by PostMessage.
#include <windows.h>

// Registers the class on first use; null when the window cannot be made.
inline HWND CreateMessageWindow(const wchar_t* className, WNDPROC procedure) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, className, &wc)) {
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.lpszClassName = className;
        RegisterClassExW(&wc);
    }
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
}
