#pragma once
// Makes this executable the handler of the product's URL scheme for the
// current user. Rewritten on every start; failures are silent.
#include <string>

#include "common/text.h"

void RegisterUrlScheme();

// True for an absolute path a desktop entry can name without quotes.
bool IsBareExecPath(const std::string& path);
// The desktop entry text (Linux) for an executable path.
std::string SchemeDesktopEntry(const std::string& executablePath);
// mimeapps.list content with the scheme's default handler set to desktopFile,
// every other line kept.
std::string WithDefaultSchemeHandler(const std::string& mimeappsList, const std::string& desktopFile);
