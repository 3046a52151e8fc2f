#pragma once
// Windows backend only: the browser's requests to the platform's pinned
// hosts, answered by the player from its own checked connections
// (service/browser_fetch_win.h) instead of the browser's own.
#include <functional>

#include "service/browser_fetch_win.h"

// Fetches on a thread of its own and calls done on the calling thread (a
// user-interface thread that pumps messages) once the whole answer is in.
// A pinned host of the platform's primary domain whose chain misses its
// pins shows the diagnostic dialog and ends the process, as the service
// client does.
void FetchPinnedLater(BrowserFetchRequest request, std::function<void(BrowserFetchResult)> done);
