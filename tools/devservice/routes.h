#pragma once
// Every route of the development service. All listeners share one state and
// the same routes; only the listener name in logs and echoes differs.
//
//   GET  /                         liveness text (the transport's HEAD pre-flight)
//   GET  <versionPath>             version document: 4.9.0, so no update
//   GET  <pinsPath>                pin document; needs the secret header (else 403)
//   PUT  <contentDataPath>         catalogue of sample contents (content.cpp)
//   GET  <pageScriptPath>?variant=N  a distinct script per N
//   ANY  /canned/<status>/<base64url body>/...  fixed answer, usable as a service base
//   ANY  /echo[/...]               the request as arrived: method, headers, exact body
//   ANY  /redirect                 302 to /echo; /status/<code>; /slow?ms=N (<= 60000)
//   GET  /media/<file>             files of the media folder, with byte ranges
//   GET  /start, /home             small start and home pages
//   GET  /trickle                  120 bytes announced, one sent a second
//   GET  /large/<bytes>            a body of that size
//   PUT|DELETE /control/pins       replace or restore the served pin document
//   ANY  /control/traps[/reset]    what the recording listeners received; forget it
#include <mutex>
#include <optional>
#include <string>

#include <httplib.h>

#include "profile.h"

namespace devservice {

struct ServiceState {
  Profile profile;
  std::string mediaDir;
  // Files the tests place for the service to hand out (the runtime installer).
  std::string stateDir;
  size_t maxBody = 8 * 1024 * 1024;  // larger request bodies get a 413

  // The pin document can be replaced at run time (PUT /control/pins) so that
  // tests reach the loader's failure paths without a restart.
  std::mutex pinsMutex;
  std::string pinsDocument;
  std::string defaultPinsDocument;
  // Likewise the built-in version document (PUT /control/version, served
  // verbatim; DELETE: the service's own again), for start-up's first check.
  std::mutex versionMutex;
  std::optional<std::string> versionDocument;
};

void InstallRoutes(httplib::Server& server, ServiceState& state, const std::string& listenerName);

// Thread-safe one-line log to stderr.
void LogLine(const std::string& line);

// Ends every pending deliberate delay so that shutdown does not wait on them.
void WakeSleepers();

}  // namespace devservice
