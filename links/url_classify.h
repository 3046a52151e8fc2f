#pragma once
// Which outside service a content address belongs to, and YouTube addresses
// rewritten to the embeddable player with the platform as origin.
#include "common/text.h"

// An http or https address on YouTube's (or its short links') host or under it.
bool IsYouTubeUrl(WStringView url);
// An http or https address on Zoom's host or under it.
bool IsZoomUrl(WStringView url);
// Reads PlayerContent.domain for the origin parameter.
WString ToYouTubeEmbedUrl(WStringView url);
