#include "app/startup.h"
#include "common/masking.h"

// The published link is the Windows installer, of no use here.
WString DefaultUpdateLink() { return Utf8ToWide(UnmaskConstant(Config::kLinuxDownloadUrl)); }

bool PublishedUpdateLinkFitsThisSystem() { return false; }
