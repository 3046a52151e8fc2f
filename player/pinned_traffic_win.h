#pragma once
// Windows backend only: the browser's requests to the platform's pinned
// hosts, answered by the player from its own checked connections
// (service/browser_fetch_win.h) instead of the browser's own.
#include <windows.h>
#include <objidl.h>

#include <functional>
#include <optional>

#include "common/com_ptr_win.h"
#include "service/browser_fetch_win.h"

struct PinnedAnswer {
    BrowserFetchResult::Outcome outcome = BrowserFetchResult::Outcome::Failed;
    int status = 0;
    WString reason;
    WString headers;
    // The answer's body as a stream that lives in the process's
    // multithreaded apartment: whoever reads it (the runtime, from its own
    // process) is served on a thread of that apartment and never waits on
    // the user interface's thread, however slowly the body arrives.
    ComPtr<IStream> body;
};

// Fetches on a thread of its own and calls done on the calling thread
// (which must be a user-interface thread in a single-threaded apartment
// that pumps messages) once the answer's headers are in. A pinned host of
// the platform's primary domain whose chain misses its pins shows the
// diagnostic dialog and ends the process, as the service client does.
void FetchPinnedLater(BrowserFetchRequest request, std::function<void(PinnedAnswer)> done);
