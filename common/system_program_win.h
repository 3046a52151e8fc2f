#pragma once
// Windows only: programs of the system folder, named by their full path so
// that no file of that name beside the player or on the search path can
// stand in for them.
#include "common/text.h"

// The system folder (GetSystemDirectoryW), a backslash and the name; empty
// when the folder cannot be read.
WString SystemProgramPath(const WString& name);
