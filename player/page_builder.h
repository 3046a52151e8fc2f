#pragma once
// The texts the player puts into its browser: the embedded-frame page for
// contents that are not opened directly, the wrapper around a content's own
// page script, and the two escapes for the watermark text.
#include <vector>

#include "common/text.h"
#include "links/player_content.h"

// For element content in a built page: " & ' < > become entities.
WString EscapeForHtml(const WString& text);
// For the inside of a single-quoted script string; "<" and ">" become \x3C
// and \x3E so the text can never close a script element.
WString EscapeForScriptString(const WString& text);

// The embedded-frame page: the content in a full-window iframe (its address
// escaped for the attribute), the watermark above it, and "pageLoaded"
// posted as soon as it runs.
WString BuildPlayerPage(const PlayerContentRecord& content);
// Runs a url_direct content's page script once the document is ready.
WString PageScriptWrapper(const WString& pageScript);

// What the player's ready handler does with a content, in order: register
// each script for every document, then either navigate to `target` (with
// identity headers) or load `target` as the page's HTML.
// Where a page given as text lives, on both systems: an https origin under a
// reserved name that never resolves, so the page is a secure context that
// may embed https frames and sends them a referrer, and a relative address
// in it reaches no server.
inline constexpr char16_t kStringPageBase[] = u"https://tovani.invalid/";

struct PlayerLoadPlan {
    std::vector<WString> documentScripts;
    enum class Load { NavigateTo, NavigateToString } load = Load::NavigateTo;
    WString target;
};
PlayerLoadPlan PlanPlayerLoad(const PlayerContentRecord& content);
// The contents opened as PDF documents, whose pages carry the watermark.
bool IsPdfContent(const PlayerContentRecord& content);
