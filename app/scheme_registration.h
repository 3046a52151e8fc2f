#pragma once
// Makes this executable the handler of the product's URL scheme for the
// current user. Rewritten on every start; failures are silent.
#include <optional>
#include <string>

#include "common/text.h"

void RegisterUrlScheme();

#ifdef _WIN32
// The scheme's DefaultIcon value for a program: its window icon (resource
// 101), named by resource id so that no other icon it may carry is taken.
std::wstring SchemeIconLocation(const std::wstring& executable);
#endif

// True for an absolute path a desktop entry can name without quotes.
bool IsBareExecPath(const std::string& path);
// True for a path a desktop entry may name at all: absolute, UTF-8, and free
// of control characters (a line break would start a line of its own).
bool IsRegistrablePathText(const std::string& path);
// The name of the scheme's desktop entry, per user and in the package.
std::string SchemeDesktopFileName();
// The desktop entry text (Linux) for an executable path; empty for a path
// that is not registrable.
std::string SchemeDesktopEntry(const std::string& executablePath);
// The program an entry of SchemeDesktopEntry's form names (its Exec line
// read back by the desktop entry rules); nothing for any other text.
std::optional<std::string> SchemeEntryProgram(const std::string& entry);
// mimeapps.list content with the scheme's default handler set to desktopFile,
// every other line kept.
std::string WithDefaultSchemeHandler(const std::string& mimeappsList, const std::string& desktopFile);
#ifndef _WIN32
// True for a program an entry may name: a path it can hold, an existing file
// that nobody but the user (or root) can replace, nor any folder on its way.
bool NobodyElseCanReplace(const std::string& program);
#endif
// mimeapps.list content without a default of the scheme that names desktopFile.
std::string WithoutDefaultSchemeHandler(const std::string& mimeappsList, const std::string& desktopFile);
