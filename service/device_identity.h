#pragma once
// Two values that identify the computer to the platform's servers, computed
// once per process.
#include <optional>
#include <string>

#include "common/text.h"

WString GetDeviceIdentity();    // Base64 of the UTF-8 machine identifier, or empty
WString GetDeviceDescription(); // "Unknown", or the one or two description values
void EnsureDeviceInfo();

// The raw values a platform backend read; empty optionals for missing ones.
struct DeviceSources {
    WString identifier;
    std::optional<WString> description1;
    std::optional<WString> description2;
};
// Platform backend: WMI and registry on Windows, DMI and machine-id on Linux.
DeviceSources ReadDeviceSources();
// Turns the raw values into the identity and the description.
void ComposeDeviceInfo(const DeviceSources& sources, WString& identity, WString& description);
