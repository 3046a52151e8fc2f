#pragma once
// The string messages pages post to the program, and the JSON the program
// posts back after a print request.
#include "common/text.h"

enum class PlayerMessage { RequestPrint, ToggleFullscreen, PageLoaded, Ignored };
// Exact, case-sensitive; the JSON-quoted form ("\"requestPrint\"") counts too.
PlayerMessage ClassifyPlayerMessage(const WString& message);

enum class InitScreenMessage { Home, Back, Fullscreen, Ignored };
// Exact, case-sensitive, whole text only.
InitScreenMessage ClassifyInitScreenMessage(const WString& message);

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
