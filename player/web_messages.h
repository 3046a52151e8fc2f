#pragma once
// The string messages pages post to the program, and the JSON the program
// posts back after a print request.
#include <functional>

#include "common/text.h"

enum class PlayerMessage { RequestPrint, ToggleFullscreen, PageLoaded, Ignored };
// Exact, case-sensitive; the JSON-quoted form ("\"requestPrint\"") counts too.
PlayerMessage ClassifyPlayerMessage(const WString& message);

// What a player window does for its page's messages; the choice of action is
// the same on both systems.
struct PlayerMessageActions {
    std::function<void()> print;            // the printer choice and the print
    std::function<void()> toggleFullscreen; // the player's own toggle
    std::function<void()> show;             // shows the window, without raising it
};
// "requestPrint" prints, "toggleFullscreen" toggles, and "pageLoaded" shows a
// window that is not shown yet (shown then becomes true); the rest is ignored.
void DispatchPlayerMessage(const WString& message, bool& shown, const PlayerMessageActions& actions);

enum class InitScreenMessage { Home, Back, Fullscreen, Ignored };
// Exact, case-sensitive, whole text only.
InitScreenMessage ClassifyInitScreenMessage(const WString& message);

// What the init screen does for its navigation bar: home, back (only when
// there is a page to go back to) and its own fullscreen toggle.
struct InitScreenActions {
    std::function<void()> home;
    std::function<bool()> canGoBack;
    std::function<void()> back;
    std::function<void()> toggleFullscreen;
};
void DispatchInitScreenMessage(const WString& message, const InitScreenActions& actions);

enum class PrintOutcome {
    Cancelled,               // no printer chosen
    EnvironmentUnavailable,  // print settings cannot come from the environment
    SettingsFailed,          // print settings could not be created
    PrinterNameFailed,       // the printer name cannot be set
    PrintApiUnavailable,     // the view has no print operation
    Succeeded,
    PrinterUnavailable,
    UnknownStatus,           // any other print status
    PrintFailed,             // the print operation itself failed
};
// {"type":"printResult",...} for PostWebMessageAsJson.
WString PrintResultJson(PrintOutcome outcome);
// The outcome of a finished print: a failed call first, then the status
// (0 succeeded, 1 printer unavailable, anything else unknown).
PrintOutcome PrintCompletionOutcome(bool callFailed, int printStatus);
