#include "service/device_identity.h"

#include <mutex>

#include "common/base64.h"

namespace {
std::once_flag gOnce;
WString gIdentity;
WString gDescription;
} // namespace

void ComposeDeviceInfo(const DeviceSources& sources, WString& identity, WString& description) {
    identity = sources.identifier.empty() ? WString() : WidenAscii(Base64Encode(WideToUtf8(sources.identifier)));
    description = u"Unknown";
    if (sources.description1) description = *sources.description1;
    if (sources.description2) {
        if (description == u"Unknown") {
            description = *sources.description2;
        } else {
            description += u" " + *sources.description2;
        }
    }
}

void EnsureDeviceInfo() {
    std::call_once(gOnce, [] { ComposeDeviceInfo(ReadDeviceSources(), gIdentity, gDescription); });
}

WString GetDeviceIdentity() {
    EnsureDeviceInfo();
    return gIdentity;
}

WString GetDeviceDescription() {
    EnsureDeviceInfo();
    return gDescription;
}
