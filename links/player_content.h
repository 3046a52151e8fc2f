#pragma once
#include "common/app_constants.h"
#include "common/text.h"

// What the player shows: written once by ParseSchemeArgs on the UI thread,
// read afterwards.
struct PlayerContentRecord {
    WString domain;
    WString url;
    WString watermarkText;
    WString contentType;
    WString pageScript;
    WString appTitle = ApplicationConstants.productName;
};

inline PlayerContentRecord PlayerContent{};
