#pragma once
// How much of an answer the player hands its browser in one piece when it
// fetched the request itself (the Windows player's requests to pinned
// hosts): the runtime takes a response only as a whole body, so a video is
// served in windows of its byte ranges, which a browser's media player asks
// for one after the other.
#include <cstdint>
#include <optional>
#include <vector>

#include "common/text.h"

// The most of one ranged answer, and of any other answer.
inline constexpr std::uint64_t kAnswerWindowBytes = 2 * 1024 * 1024;
inline constexpr std::uint64_t kWholeAnswerLimitBytes = 64 * 1024 * 1024;

// A Range header of one range from a start ("bytes=S-", "bytes=S-E"), cut
// to at most window bytes; nothing for any other form, which goes as it is.
std::optional<WString> WindowedRange(const WString& range, std::uint64_t window);

// The Content-Range of a 200 or 206 answer to a ranged request cut to its
// first kept bytes, from the answer's own Content-Range (206) or its
// Content-Length (200); nothing when neither says where the bytes stand.
std::optional<WString> CutContentRange(int status, const WString& contentRange, const WString& contentLength,
                                       std::uint64_t kept);

// A header's values among "Name: value" lines joined by CRLF, in order; the
// first of them (empty when absent).
std::vector<WString> HeaderValues(const WString& headers, const WString& name);
WString HeaderValue(const WString& headers, const WString& name);
// The lines with that header's value replaced (or added).
WString WithHeader(const WString& headers, const WString& name, const WString& value);
