#include "common/bounded_json.h"

namespace {

struct OverBound {};

} // namespace

nlohmann::json ParseBoundedJson(std::string_view text) {
    using Json = nlohmann::json;
    std::size_t values = 0;
    const Json::parser_callback_t bound = [&values](int depth, Json::parse_event_t event, Json&) {
        switch (event) {
        case Json::parse_event_t::object_start:
        case Json::parse_event_t::array_start:
            // The depth the parser stands at when a container opens: 0 for the outermost.
            if (depth >= kMaxJsonDepth) throw OverBound{};
            [[fallthrough]];
        case Json::parse_event_t::key:
        case Json::parse_event_t::value:
            if (++values > kMaxJsonValues) throw OverBound{};
            break;
        case Json::parse_event_t::object_end:
        case Json::parse_event_t::array_end:
            break;
        }
        return true;
    };
    try {
        return Json::parse(text, bound, false);
    } catch (const OverBound&) {
        return Json(Json::value_t::discarded);
    }
}
