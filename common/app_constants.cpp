#include "common/app_constants.h"

#include "common/numbers.h"

double VersionNumber(WStringView versionString) {
    return LeadingDecimal(WideToUtf8(versionString)).value_or(3.0);
}

double CurrentVersion() {
    return VersionNumber(ApplicationConstants.versionString);
}
