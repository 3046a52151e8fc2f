#pragma once
#include "common/text.h"

struct ApplicationConstantsRecord {
    WString productName = u"Tovani";
    WString schemeWord = u"corvantiluxen";
    WString versionString = u"4.9.0";

    // "Tovani V 4.9.0": the title of the init window and the player window.
    WString WindowTitle() const { return productName + u" V " + versionString; }
};

inline const ApplicationConstantsRecord ApplicationConstants{};

// The version as the version check compares it: the longest leading decimal
// number of the version string ("4.9.0" gives 4.9), or 3.0 when there is none.
double VersionNumber(WStringView versionString);
double CurrentVersion();
