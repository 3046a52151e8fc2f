#pragma once
// Windows backend only: the runtime installer's download with a window that
// shows how far it is (bytes, and the percentage when the size is known, in
// English then Arabic) and lets the user cancel it. A line that stays silent
// for the download's inactivity limit ends it as a failure.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/text.h"
#include "runtime/installer_download_win.h"

// Runs the download of url into file on a thread of its own while the
// window is shown on this one; returns when it has ended.
InstallerDownload::Result DownloadWithProgress(const WString& url, HANDLE file);

// The window's progress line: "1.5 MB of 150.0 MB (1%)" and its Arabic
// counterpart; without a total, the bytes so far.
WString DownloadProgressText(std::uint64_t received, std::uint64_t total);
