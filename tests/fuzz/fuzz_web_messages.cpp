// Messages a page posts, through the dispatch both windows use: only the
// exact words (or, for the player, the words in JSON quotes) do anything, one
// action at most; every other text is ignored. The text comes as UTF-8 or as
// raw UTF-16 units.
#include "fuzz_support.h"
#include "player/web_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const WString message = FuzzText(bytes);

    WString word = message;
    if (word.size() >= 2 && word.front() == u'"' && word.back() == u'"') word = word.substr(1, word.size() - 2);
    switch (ClassifyPlayerMessage(message)) {
    case PlayerMessage::RequestPrint: FUZZ_CHECK(word == u"requestPrint", FuzzShow(message)); break;
    case PlayerMessage::ToggleFullscreen: FUZZ_CHECK(word == u"toggleFullscreen", FuzzShow(message)); break;
    case PlayerMessage::PageLoaded: FUZZ_CHECK(word == u"pageLoaded", FuzzShow(message)); break;
    case PlayerMessage::Ignored:
        FUZZ_CHECK(word != u"requestPrint" && word != u"toggleFullscreen" && word != u"pageLoaded", FuzzShow(message));
        break;
    }
    switch (ClassifyInitScreenMessage(message)) {
    case InitScreenMessage::Home: FUZZ_CHECK(message == u"btn_home", FuzzShow(message)); break;
    case InitScreenMessage::Back: FUZZ_CHECK(message == u"btn_back", FuzzShow(message)); break;
    case InitScreenMessage::Fullscreen: FUZZ_CHECK(message == u"btn_fullscreen", FuzzShow(message)); break;
    case InitScreenMessage::Ignored:
        FUZZ_CHECK(message != u"btn_home" && message != u"btn_back" && message != u"btn_fullscreen", FuzzShow(message));
        break;
    }

    // The dispatch: at most one action, the one the word names; a window
    // already shown is never shown again.
    for (bool shownBefore : {false, true}) {
        int prints = 0, toggles = 0, shows = 0;
        bool shown = shownBefore;
        DispatchPlayerMessage(message, shown,
                              PlayerMessageActions{.print = [&] { ++prints; },
                                                   .toggleFullscreen = [&] { ++toggles; },
                                                   .show = [&] { ++shows; }});
        const PlayerMessage kind = ClassifyPlayerMessage(message);
        FUZZ_CHECK(prints == (kind == PlayerMessage::RequestPrint ? 1 : 0), FuzzShow(message));
        FUZZ_CHECK(toggles == (kind == PlayerMessage::ToggleFullscreen ? 1 : 0), FuzzShow(message));
        FUZZ_CHECK(shows == (kind == PlayerMessage::PageLoaded && !shownBefore ? 1 : 0), FuzzShow(message));
        FUZZ_CHECK(shown == (shownBefore || kind == PlayerMessage::PageLoaded), FuzzShow(message));
    }
    for (bool history : {false, true}) {
        int homes = 0, backs = 0, toggles = 0;
        DispatchInitScreenMessage(message, InitScreenActions{.home = [&] { ++homes; },
                                                             .canGoBack = [&] { return history; },
                                                             .back = [&] { ++backs; },
                                                             .toggleFullscreen = [&] { ++toggles; }});
        const InitScreenMessage kind = ClassifyInitScreenMessage(message);
        FUZZ_CHECK(homes == (kind == InitScreenMessage::Home ? 1 : 0), FuzzShow(message));
        FUZZ_CHECK(backs == (kind == InitScreenMessage::Back && history ? 1 : 0), FuzzShow(message));
        FUZZ_CHECK(toggles == (kind == InitScreenMessage::Fullscreen ? 1 : 0), FuzzShow(message));
    }
    return 0;
}
