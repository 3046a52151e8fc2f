#pragma once
// Windows only: other copies of this program run by the same user. A browser
// process serves every client of its data folder and outlives the one that
// started it, so whoever would end one first asks whether another copy runs.
#include <windows.h>

// The user a process runs as is this process's user.
bool RunsAsThisUser(HANDLE process);
// Another running process of this user has this program's file name; true
// when this program's own name cannot be read (spare the browsers then).
bool OtherCopyOfThisProgramRunning();
