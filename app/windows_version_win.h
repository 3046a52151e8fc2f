#pragma once
// Windows backend only: the system's true version, as the kernel reports it
// (compatibility shims make GetVersionEx answer older versions to programs
// without a manifest).
struct WindowsVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
};

// All zero when the query fails.
WindowsVersion TrueWindowsVersion();
// ClassifyWindowsVersion of the true version: 10 or 11, 7 or 8, else -1.
int WindowsVersionClass();
