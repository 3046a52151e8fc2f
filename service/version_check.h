#pragma once
#include <string>

#include "common/text.h"

struct VersionCheckResult {
    bool hasUpdate = false;
    bool isRequired = false;
    WString link;
    // The service's version document was fetched and read (whatever it said).
    bool answered = false;
};

// Asks the service for the latest version; an empty baseUrl uses the built-in
// version endpoint. Never throws; every failure means no update.
VersionCheckResult CheckVersion(double currentVersion, const WString& baseUrl);
// The decision on a version document body.
VersionCheckResult EvaluateVersionDocument(double currentVersion, const std::string& body);
