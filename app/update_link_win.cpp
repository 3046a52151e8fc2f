#include "app/startup.h"
#include "common/masking.h"

WString DefaultUpdateLink() { return Utf8ToWide(UnmaskConstant(Config::kUpdateDownloadUrl)); }

bool PublishedUpdateLinkFitsThisSystem() { return true; }
