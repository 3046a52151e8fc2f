// The service's pin document: the store it makes always starts with the
// built-in pins, holds only entries with pins, and every entry's scope finds
// an entry of that scope once the store is in place.
#include "fuzz_support.h"
#include "service/pins.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<PinEntry> defaults = DefaultPins();
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::optional<std::vector<PinEntry>> store = ParsePinDocument(body);
    if (!store) return 0;
    FUZZ_CHECK(store->size() >= defaults.size(), "defaults lost");
    for (std::size_t i = 0; i < defaults.size(); ++i) {
        FUZZ_CHECK((*store)[i].scope == defaults[i].scope && (*store)[i].pins == defaults[i].pins, "defaults changed");
    }
    for (const PinEntry& entry : *store) {
        FUZZ_CHECK(!entry.pins.empty(), "entry without pins for " + FuzzShow(entry.scope));
    }
    SetPins(*store);
    for (const PinEntry& entry : *store) {
        const std::optional<PinEntry> found = FindPinEntry(entry.scope);
        FUZZ_CHECK(found.has_value(), "scope not found: " + FuzzShow(entry.scope));
        FUZZ_CHECK(ToLowerCopy(found->scope) == ToLowerCopy(entry.scope),
                   "scope " + FuzzShow(entry.scope) + " found " + FuzzShow(found->scope));
        // A chain that carries nothing matches no pin.
        FUZZ_CHECK(!ChainMatchesPins(ServerChain{true, {}}, *found), "empty chain matched");
    }
    SetPins({});
    return 0;
}
