#include "routes.h"


#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "codec.h"
#include "counts.h"
#include "content.h"
#include "trap.h"

namespace devservice {

using nlohmann::json;

namespace {

constexpr const char* kJsonType = "application/json";
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kHtmlType = "text/html; charset=utf-8";

std::mutex gLogMutex;
std::mutex gSleepMutex;
std::condition_variable gSleepWake;
bool gStopping = false;

// A deliberate delay that shutdown can cut short; false when it was.
bool PausableSleep(int ms) {
  std::unique_lock lock(gSleepMutex);
  return !gSleepWake.wait_for(lock, std::chrono::milliseconds(ms), [] { return gStopping; });
}

std::string Dump(const json& doc) {
  // Header values and bodies may be any bytes; never let a stray one throw.
  return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Send(httplib::Response& res, int status, const std::string& body, const char* type) {
  res.status = status;
  res.set_content(body, type);
}

void SendMessage(httplib::Response& res, int status, const std::string& message) {
  Send(res, status, Dump({{"message", message}}), kJsonType);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// httplib routes HEAD to the GET handlers and drops the body itself.
bool IsGet(const httplib::Request& req) { return req.method == "GET" || req.method == "HEAD"; }

void MethodNotAllowed(httplib::Response& res, const char* allow) {
  res.set_header("Allow", allow);
  SendMessage(res, 405, "method not allowed");
}

// --- individual routes ------------------------------------------------------

void Version(httplib::Response& res, ServiceState& state) {
  std::lock_guard lock(state.versionMutex);
  if (state.versionDocument) return Send(res, 200, *state.versionDocument, kJsonType);
  Send(res, 200, Dump({{"version", "4.9.0"}, {"is_required", "0"}, {"link", ""}}), kJsonType);
}

void ControlVersion(const httplib::Request& req, const std::string& body, httplib::Response& res,
                    ServiceState& state) {
  std::lock_guard lock(state.versionMutex);
  if (req.method == "DELETE") {
    state.versionDocument.reset();
    return Send(res, 200, "{}", kJsonType);
  }
  if (req.method != "PUT") return MethodNotAllowed(res, "PUT, DELETE");
  state.versionDocument = body;
  Send(res, 200, body, kJsonType);
}

void Pins(const httplib::Request& req, httplib::Response& res, ServiceState& state) {
  const auto& header = state.profile.pinsSecretHeader;
  if (!req.has_header(header.c_str()) ||
      req.get_header_value(header.c_str()) != state.profile.pinsSecret) {
    SendMessage(res, 403, "forbidden");
    return;
  }
  std::lock_guard lock(state.pinsMutex);
  Send(res, 200, state.pinsDocument, kJsonType);
}

void ControlPins(const httplib::Request& req, const std::string& body, httplib::Response& res,
                 ServiceState& state) {
  if (req.method == "DELETE") {
    std::lock_guard lock(state.pinsMutex);
    state.pinsDocument = state.defaultPinsDocument;
    Send(res, 200, state.pinsDocument, kJsonType);
    return;
  }
  if (req.method != "PUT") return MethodNotAllowed(res, "PUT, DELETE");
  // Served verbatim, so any text is allowed: tests want malformed documents too.
  std::lock_guard lock(state.pinsMutex);
  state.pinsDocument = body;
  Send(res, 200, state.pinsDocument, json::accept(body) ? kJsonType : kTextType);
}

void ContentData(const httplib::Request& req, const std::string& body, httplib::Response& res,
                 const Profile& profile) {
  const auto& header = profile.clientHeader;
  if (!req.has_header(header.c_str()) || req.get_header_value(header.c_str()) != profile.clientValue) {
    SendMessage(res, 403, "client not allowed");
    return;
  }
  ContentForm form;
  switch (ParseContentForm(body, profile, form)) {
    case FormError::kMissingPass: return SendMessage(res, 400, "missing pass");
    case FormError::kMissingId: return SendMessage(res, 400, "missing id");
    case FormError::kNone: break;
  }
  const Reply reply = ContentDataReply(form.id, profile);
  if (reply.delayMs > 0 && !PausableSleep(reply.delayMs)) {
    SendMessage(res, 503, "shutting down");
    return;
  }
  Send(res, reply.status, reply.body, reply.contentType.c_str());
}

void PageScript(const httplib::Request& req, httplib::Response& res, const Profile& profile) {
  const auto variant = ParseInteger(req.get_param_value(profile.pageScriptParam.c_str()),
                                    INT32_MIN, INT32_MAX);
  if (!variant) {
    Send(res, 400, "bad variant\n", kTextType);
    return;
  }
  const std::string n = std::to_string(*variant);
  std::string script = "/* tovani page script variant " + n + " */\n";
  script += "(function () {\n"
            "  'use strict';\n"
            "  window.__tovaniPageScriptVariant = " + n + ";\n"
            "  if (document.documentElement) {\n"
            "    document.documentElement.setAttribute('data-tovani-page-script', '" + n + "');\n"
            "  }\n"
            "})();\n";
  Send(res, 200, script, "application/javascript; charset=utf-8");
}

// /canned/<status>/<base64url body>/<anything>: a service base whose every
// answer is fixed by its own address.
void Canned(const httplib::Request& req, httplib::Response& res) {
  std::string_view rest = std::string_view(req.path).substr(std::string_view("/canned/").size());
  const size_t slash = rest.find('/');
  const auto status = ParseInteger(rest.substr(0, slash), 200, 599);
  if (!status) return SendMessage(res, 400, "bad canned status");
  std::string_view encoded;
  if (slash != std::string_view::npos) {
    encoded = rest.substr(slash + 1);
    encoded = encoded.substr(0, encoded.find('/'));
  }
  const auto body = Base64UrlDecode(encoded);
  if (!body) return SendMessage(res, 400, "bad canned body");
  res.status = static_cast<int>(*status);
  if (*status == 204 || *status == 304) return;  // these carry no body by definition
  res.set_content(*body, json::accept(*body) ? kJsonType : kTextType);
}

// /nested/<status>/<count>/<anything>: a service base whose every answer is
// <count> opening brackets, a document nested as deep as it is long, made as
// it is sent.
void Nested(const httplib::Request& req, httplib::Response& res) {
  std::string_view rest = std::string_view(req.path).substr(std::string_view("/nested/").size());
  const size_t slash = rest.find('/');
  const auto status = ParseInteger(rest.substr(0, slash), 200, 599);
  if (!status || slash == std::string_view::npos) return SendMessage(res, 400, "bad nested status");
  rest.remove_prefix(slash + 1);
  const auto count = ParseInteger(rest.substr(0, rest.find('/')), 1, 64LL * 1024 * 1024);
  if (!count) return SendMessage(res, 400, "bad nested count");
  res.status = static_cast<int>(*status);
  res.set_content_provider(static_cast<size_t>(*count), kJsonType,
                           [](size_t, size_t length, httplib::DataSink& sink) {
                             static const std::string chunk(64 * 1024, '[');
                             return sink.write(chunk.data(), std::min(length, chunk.size()));
                           });
}

void Echo(const httplib::Request& req, const std::string& body, httplib::Response& res,
          const std::string& listener) {
  json headers = json::object();
  for (const auto& [name, value] : req.headers) {
    // httplib files the peer's address among the headers; they never came over the wire.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT")
      continue;
    std::string key = name;
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = headers.find(key);
    if (it == headers.end()) headers[key] = value;
    else *it = it->get<std::string>() + ", " + value;
  }
  // Raw query text: httplib's params also hold fields parsed from a form body.
  const size_t mark = req.target.find('?');
  const std::string query = mark == std::string::npos ? "" : req.target.substr(mark + 1);
  const json doc = {
      {"listener", listener},       {"method", req.method},
      {"path", req.path},           {"target", req.target},
      {"query", query},             {"headers", headers},
      {"body", body},               {"body_base64", Base64Encode(body)},
      {"body_length", body.size()}, {"remote_addr", req.remote_addr},
  };
  Send(res, 200, Dump(doc), kJsonType);
}

// Headers at once, then one body byte a second: a sender that never stalls
// long enough to trip a stall timeout, yet never finishes.
void Trickle(httplib::Response& res) {
  constexpr size_t kLength = 120;
  res.set_content_provider(kLength, kJsonType, [](size_t offset, size_t, httplib::DataSink& sink) {
    if (offset > 0 && !PausableSleep(1000)) return false;
    return sink.write(offset == 0 ? "[" : " ", 1);
  });
}

// A body of the asked size, produced as it is sent.
void Large(const httplib::Request& req, httplib::Response& res) {
  const auto size = ParseInteger(std::string_view(req.path).substr(std::string_view("/large/").size()), 0,
                                 1024LL * 1024 * 1024);
  if (!size) return Send(res, 400, "size must be 0..1073741824\n", kTextType);
  res.set_content_provider(static_cast<size_t>(*size), kJsonType,
                           [](size_t offset, size_t length, httplib::DataSink& sink) {
                             static const std::string chunk(64 * 1024, ' ');
                             const size_t n = std::min(length, chunk.size());
                             std::string piece = chunk.substr(0, n);
                             if (offset == 0 && n > 0) piece[0] = '[';
                             return sink.write(piece.data(), piece.size());
                           });
}

void Slow(const httplib::Request& req, httplib::Response& res) {
  std::optional<long long> ms = 1000;
  if (req.has_param("ms")) ms = ParseInteger(req.get_param_value("ms"), 0, 60000);
  if (!ms) return Send(res, 400, "ms must be 0..60000\n", kTextType);
  if (!PausableSleep(static_cast<int>(*ms))) return SendMessage(res, 503, "shutting down");
  Send(res, 200, "slept " + std::to_string(*ms) + " ms\n", kTextType);
}

const char* MediaType(std::string_view name) {
  static constexpr std::pair<std::string_view, const char*> kTypes[] = {
      {".mp4", "video/mp4"},        {".webm", "video/webm"},
      {".pdf", "application/pdf"},  {".html", kHtmlType},
      {".js", "application/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", kJsonType},         {".png", "image/png"},
      {".jpg", "image/jpeg"},       {".txt", kTextType},
  };
  for (const auto& [ext, type] : kTypes)
    if (name.size() > ext.size() && name.substr(name.size() - ext.size()) == ext) return type;
  return "application/octet-stream";
}

// Only plain names: no folders, no hidden files, nothing that could climb out.
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.size() > 200) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

struct ByteSpan {
  size_t begin = 0;
  size_t length = 0;
};

// The one Range of a request resolved against the file size: nothing when it
// cannot be satisfied. httplib's own handling neither clamps an end past the
// file nor rejects a start past it, so it is done here.
std::optional<ByteSpan> ResolveRange(const httplib::Range& range, size_t size) {
  const auto [first, last] = range;
  if (first < 0) {  // suffix form "-N"
    if (last <= 0 || size == 0) return std::nullopt;
    const size_t tail = std::min(static_cast<size_t>(last), size);
    return ByteSpan{size - tail, tail};
  }
  if (static_cast<size_t>(first) >= size) return std::nullopt;
  size_t end = size - 1;
  if (last >= 0 && static_cast<size_t>(last) < end) end = static_cast<size_t>(last);
  if (end < static_cast<size_t>(first)) return std::nullopt;
  return ByteSpan{static_cast<size_t>(first), end - static_cast<size_t>(first) + 1};
}

void Media(const httplib::Request& req, httplib::Response& res, const std::string& dir) {
  // Ranges are answered here; clearing them keeps httplib from applying them
  // a second time. The request object is httplib's own mutable local.
  const httplib::Ranges ranges = req.ranges;
  const_cast<httplib::Request&>(req).ranges.clear();

  const std::string_view name = std::string_view(req.path).substr(std::string_view("/media/").size());
  if (!IsPlainFileName(name)) return Send(res, 404, "no such media\n", kTextType);
  const std::string path = dir + "/" + std::string(name);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) ::close(fd);
    return Send(res, 404, "no such media\n", kTextType);
  }
  const auto size = static_cast<size_t>(info.st_size);
  res.set_header("Accept-Ranges", "bytes");

  ByteSpan span{0, size};
  res.status = 200;
  // Several ranges are answered with the whole file, which a server may do.
  if (ranges.size() == 1) {
    const auto resolved = ResolveRange(ranges.front(), size);
    if (!resolved) {
      ::close(fd);
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      return;
    }
    span = *resolved;
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(span.begin) + "-" +
                                        std::to_string(span.begin + span.length - 1) + "/" +
                                        std::to_string(size));
  }
  if (span.length == 0) {
    ::close(fd);
    return res.set_content("", MediaType(name));
  }
  // A provider, not a body, keeps large videos out of memory.
  res.set_content_provider(
      span.length, MediaType(name),
      [fd, span](size_t offset, size_t length, httplib::DataSink& sink) {
        if (offset >= span.length) return false;
        length = std::min(length, span.length - offset);
        char buf[64 * 1024];
        while (length > 0) {
          const ssize_t got = ::pread(fd, buf, std::min(length, sizeof buf),
                                      static_cast<off_t>(span.begin + offset));
          if (got <= 0) return false;
          if (!sink.write(buf, static_cast<size_t>(got))) return false;
          offset += static_cast<size_t>(got);
          length -= static_cast<size_t>(got);
        }
        return true;
      },
      [fd](bool) { ::close(fd); });
}

void Page(httplib::Response& res, const char* title) {
  std::string html = "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>";
  html += title;
  // The player's browser paints a dark default behind pages: give ours their own.
  html += "</title><style>body{background:#fff;color:#222;font-family:sans-serif;margin:0;padding:80px 40px;}"
          "</style></head>\n<body><h1>";
  html += title;
  html += "</h1>\n<p><a href=\"/media/page.html\">Sample page</a></p>\n</body></html>\n";
  Send(res, 200, html, kHtmlType);
}

// How the runtime installer is handed out, chosen by the tests with the first
// word of STATEDIR/runtime-installer.mode (none: served at once):
//   redirect             302 to another host, whose answer is a 307 to a
//                        relative address, where the installer is
//   redirect-http        302 to the plain-HTTP listener
//   redirect-selfsigned  302 to the host with a self-signed certificate
//   redirect-forged      302 to the platform's host with a forged chain
//   redirect-loop        302 back to the same address, without end
//   slow                 the installer in twelve pieces, one every 3 s
//   stall                half the installer, then nothing for 45 s
//   large N              N bytes made as they are sent ("MZ", then zeros)
std::string RuntimeInstallerMode(const std::string& stateDir) {
  std::ifstream in(stateDir + "/runtime-installer.mode");
  std::string word;
  if (!stateDir.empty() && in) in >> word;
  return word;
}

void RuntimeInstallerBody(httplib::Response& res, const std::string& stateDir, const std::string& mode) {
  if (mode == "large") {
    std::ifstream in(stateDir + "/runtime-installer.mode");
    std::string word, count;
    in >> word >> count;
    const auto size = ParseInteger(count, 2, 4LL * 1024 * 1024 * 1024);
    if (!size) return Send(res, 400, "large needs a size\n", kTextType);
    res.set_content_provider(static_cast<size_t>(*size), "application/octet-stream",
                             [](size_t offset, size_t length, httplib::DataSink& sink) {
                               static const std::string zeros(64 * 1024, '\0');
                               std::string piece = zeros.substr(0, std::min(length, zeros.size()));
                               for (size_t i = 0; i < piece.size() && offset + i < 2; ++i)
                                 piece[i] = "MZ"[offset + i];
                               return sink.write(piece.data(), piece.size());
                             });
    return;
  }
  std::ifstream in(stateDir + "/runtime-installer.exe", std::ios::binary);
  if (stateDir.empty() || !in) return SendMessage(res, 404, "no runtime installer");
  std::ostringstream read;
  read << in.rdbuf();
  auto bytes = std::make_shared<const std::string>(read.str());
  if (mode != "slow" && mode != "stall") return Send(res, 200, *bytes, "application/octet-stream");
  const size_t piece = std::max<size_t>(1, bytes->size() / 12 + 1);
  const bool slow = mode == "slow";
  res.set_content_provider(bytes->size(), "application/octet-stream",
                           [bytes, piece, slow](size_t offset, size_t length, httplib::DataSink& sink) {
                             if (slow && offset > 0 && !PausableSleep(3000)) return false;
                             if (!slow && offset >= bytes->size() / 2 && !PausableSleep(45000)) return false;
                             const size_t limit = slow ? piece : (offset < bytes->size() / 2 ? bytes->size() / 2 - offset : length);
                             const size_t n = std::min({length, limit, bytes->size() - offset});
                             return sink.write(bytes->data() + offset, n);
                           });
}

void RuntimeInstaller(const std::string& path, httplib::Response& res, const std::string& stateDir) {
  const std::string mode = RuntimeInstallerMode(stateDir);
  const auto redirect = [&res](int status, const std::string& to) {
    res.set_header("Location", to);
    Send(res, status, "moved to " + to + "\n", kTextType);
  };
  if (path == "/runtime/MicrosoftEdgeWebview2Setup.exe") {
    if (mode == "redirect") return redirect(302, "https://127.0.0.2:47443/runtime/hop");
    if (mode == "redirect-http") return redirect(302, "http://127.0.0.1:47480/runtime/final");
    if (mode == "redirect-selfsigned") return redirect(302, "https://127.0.0.3:47443/runtime/final");
    if (mode == "redirect-forged") return redirect(302, "https://127.0.0.1:47446/runtime/final");
    if (mode == "redirect-loop") return redirect(302, "/runtime/MicrosoftEdgeWebview2Setup.exe");
    return RuntimeInstallerBody(res, stateDir, mode);
  }
  if (path == "/runtime/hop") return redirect(307, "final?from=hop");
  RuntimeInstallerBody(res, stateDir, mode);
}

// --- dispatch -----------------------------------------------------------------

void Dispatch(const httplib::Request& req, const std::string& body, httplib::Response& res,
              ServiceState& state,
              const std::string& listener) {
  const Profile& profile = state.profile;
  // A request line may name the whole address (absolute form, which Wine
  // sends inside a proxy's tunnel); servers must accept it.
  std::string_view origin = req.path;
  for (std::string_view scheme : {"https://", "http://"}) {
    if (origin.substr(0, scheme.size()) != scheme) continue;
    const size_t slash = origin.find('/', scheme.size());
    origin = slash == std::string_view::npos ? std::string_view("/") : origin.substr(slash);
  }
  std::string path(origin);

  // A service base may lead with markers that change its answers, so that a
  // link whose domain ends in them gets them on every request it makes:
  // /delay/<ms> holds each answer that long (a slow service), and
  // /update-optional or /update-required publish a newer release (the
  // update prompts); the rest of the path is answered as usual.
  long long delayMs = 0;
  const char* published = nullptr;
  for (bool marked = true; marked;) {
    marked = false;
    if (StartsWith(path, "/delay/")) {
      const size_t end = path.find('/', 7);
      const auto ms = ParseInteger(std::string_view(path).substr(7, end == std::string::npos ? end : end - 7), 0, 60000);
      if (!ms) return Send(res, 400, "delay must be 0..60000 ms\n", kTextType);
      delayMs += *ms;
      path = end == std::string::npos ? "/" : path.substr(end);
      marked = true;
    }
    for (const char* kind : {"/update-optional", "/update-required"}) {
      const size_t length = std::string_view(kind).size();
      if (!StartsWith(path, kind) || path.size() <= length || path[length] != '/') continue;
      published = kind;
      path = path.substr(length);
      marked = true;
    }
  }
  if (delayMs > 0 && !PausableSleep(static_cast<int>(std::min(delayMs, 60000LL)))) {
    return SendMessage(res, 503, "shutting down");
  }

  if (path == "/") {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return Send(res, 200, "tovani development service\n", kTextType);
  }
  if (path == profile.versionPath) {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    if (published == nullptr) return Version(res, state);
    const bool required = std::string_view(published) == "/update-required";
    return Send(res, 200,
                Dump({{"version", "9.0"}, {"is_required", required ? "1" : "0"},
                      {"link", "https://127.0.0.1:47443/desktop/corvantiluxen/Tovani.exe"}}),
                kJsonType);
  }
  if (path == profile.pinsPath) {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return Pins(req, res, state);
  }
  if (path == profile.contentDataPath) {
    if (req.method != "PUT") return MethodNotAllowed(res, "PUT");
    return ContentData(req, body, res, profile);
  }
  if (path == profile.pageScriptPath) {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return PageScript(req, res, profile);
  }
  if (StartsWith(path, "/canned/")) return Canned(req, res);
  if (StartsWith(path, "/nested/")) return Nested(req, res);
  if (path == "/echo" || StartsWith(path, "/echo/")) return Echo(req, body, res, listener);
  if (path == "/set-cookie") {
    // A session cookie of the host, one of a path with an age, and one for a
    // stranger's domain that no browser keeps.
    res.set_header("Set-Cookie", "sid=s1; Path=/; Secure; HttpOnly; SameSite=Lax");
    res.set_header("Set-Cookie", "theme=dark; Max-Age=3600; Path=/echo");
    res.set_header("Set-Cookie", "far=1; Domain=evil.test; Path=/");
    return Send(res, 200, "cookies set\n", kTextType);
  }
  if (path == "/redirect") {
    res.set_header("Location", "/echo");
    return Send(res, 302, "redirecting to /echo\n", kTextType);
  }
  if (StartsWith(path, "/status/")) {
    const auto status = ParseInteger(std::string_view(path).substr(8), 200, 599);
    if (!status) return Send(res, 400, "status must be 200..599\n", kTextType);
    const int code = static_cast<int>(*status);
    if (code == 204 || code == 304) {
      res.status = code;
      return;
    }
    return Send(res, code, code == 404 ? "not here" : "status " + std::to_string(code), kTextType);
  }
  if (path == "/slow") return Slow(req, res);
  if (path == "/trickle") {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return Trickle(res);
  }
  if (StartsWith(path, "/large/")) {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return Large(req, res);
  }
  if (path == "/control/traps") return Send(res, 200, Dump(TrapRecords()), kJsonType);
  if (path == "/control/counts") return Send(res, 200, Dump(Counts()), kJsonType);
  if (path == "/control/counts/reset") {
    ResetCounts();
    return Send(res, 200, "{}", kJsonType);
  }
  if (path == "/control/traps/reset") {
    ResetTraps();
    return Send(res, 200, "{}", kJsonType);
  }
  if (StartsWith(path, "/media/")) {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return Media(req, res, state.mediaDir);
  }
  if (path == "/start" || path == "/home") {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return Page(res, path == "/start" ? "Tovani start" : "Tovani home");
  }
  if (path == "/control/pins") return ControlPins(req, body, res, state);
  if (path == "/control/version") return ControlVersion(req, body, res, state);
  // The browser runtime's installer: whatever the tests placed in the state
  // folder (the stand-in installer), 404 while there is none, handed out as
  // the tests chose.
  if (path == "/runtime/MicrosoftEdgeWebview2Setup.exe" || path == "/runtime/hop" || path == "/runtime/final") {
    if (!IsGet(req)) return MethodNotAllowed(res, "GET, HEAD");
    return RuntimeInstaller(path, res, state.stateDir);
  }
  SendMessage(res, 404, "not found");
}

}  // namespace

void LogLine(const std::string& line) {
  std::lock_guard lock(gLogMutex);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void WakeSleepers() {
  {
    std::lock_guard lock(gSleepMutex);
    gStopping = true;
  }
  gSleepWake.notify_all();
}

void InstallRoutes(httplib::Server& server, ServiceState& state, const std::string& listenerName) {
  // One catch-all per method; Dispatch does the routing so that a known path
  // with the wrong method gets a 405 rather than httplib's bare 404.
  const std::string any = R"([\s\S]*)";
  auto plain = [&state, listenerName](const httplib::Request& req, httplib::Response& res) {
    Dispatch(req, req.body, res, state, listenerName);
  };
  // Bodies are read here, not by httplib: its size limit does not cover
  // chunked uploads, and an unbounded body must not exhaust memory.
  auto withBody = [&state, listenerName](const httplib::Request& req, httplib::Response& res,
                                         const httplib::ContentReader& reader) {
    std::string body;
    bool tooBig = false;
    const bool complete = reader([&](const char* data, size_t length) {
      if (body.size() + length > state.maxBody) {
        tooBig = true;
        return false;
      }
      body.append(data, length);
      return true;
    });
    if (!complete) {
      // httplib refuses a declared length over the limit before reading anything.
      tooBig = tooBig || req.get_header_value<uint64_t>("Content-Length") > state.maxBody;
      res.set_header("Connection", "close");  // the rest of the upload stays unread
      return SendMessage(res, tooBig ? 413 : 400, tooBig ? "body too large" : "incomplete body");
    }
    Dispatch(req, body, res, state, listenerName);
  };
  server.Get(any, plain);
  server.Options(any, plain);
  server.Post(any, withBody);
  server.Put(any, withBody);
  server.Patch(any, withBody);
  server.Delete(any, withBody);

  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
    std::string what = "unknown";
    try {
      if (ep) std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    LogLine("handler failed: " + what);
    SendMessage(res, 500, "internal error");
  });
  server.set_logger([listenerName](const httplib::Request& req, const httplib::Response& res) {
    CountRequest(listenerName, req.path);
    LogLine("[" + listenerName + "] " + req.method + " " + req.target + " -> " +
            std::to_string(res.status));
  });
}

}  // namespace devservice
