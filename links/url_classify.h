#pragma once
// Which outside service a content address belongs to, and YouTube addresses
// rewritten to the embeddable player with the platform as origin.
#include "common/text.h"

bool IsYouTubeUrl(WStringView url);
bool IsZoomUrl(WStringView url);
// Reads PlayerContent.domain for the origin parameter.
WString ToYouTubeEmbedUrl(WStringView url);
