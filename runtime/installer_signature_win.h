#pragma once
// Windows backend only: whether a downloaded runtime installer may be run.
// It must carry a valid Authenticode signature (WinVerifyTrust) by the signer
// the profile names: that signer's common name, on a code-signing chain that
// ends in one of the profile's roots for it (Microsoft's for the real
// runtime; the dev profile names the development service's test signer).
#include <windows.h>

#include <string>

#include "common/text.h"

// Empty when the file may be run, else why not (for the log). file is an
// open handle to path with read access, held so that what is checked is what
// runs.
std::string CheckInstallerSignature(const WString& path, HANDLE file);
