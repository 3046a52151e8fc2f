#include "player/browser_relay_linux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <vector>
#include <thread>

#include "common/debug_log.h"
#include "player/browser_rules.h"
#include "service/pins.h"
#include "service/server_chain_linux.h"

namespace WebView {

namespace {

using Clock = std::chrono::steady_clock;

// The browser gives up on a tunnel long before this; a host that has not
// answered by then is no host to wait for.
constexpr auto kSetUpLimit = std::chrono::seconds(15);
// A kept connection with nothing on it (a paused video) is let go; the
// browser opens a new one when it needs it.
constexpr int kIdleLimitMs = 10 * 60 * 1000;
// Chromium keeps at most 32 connections to one proxy; the rest is a page
// (or a local program) asking for threads.
constexpr int kMostTunnels = 96;
constexpr std::size_t kMostRequestHead = 8192;

std::mutex gListenerMutex;
std::function<void(const WString&)> gMismatchListener;

void ReportMismatch(const WString& host) {
    std::function<void(const WString&)> listener;
    {
        const std::lock_guard<std::mutex> lock(gListenerMutex);
        listener = gMismatchListener;
    }
    if (listener) listener(host);
    else ReportBlockedHostLater(host);
}

// A write to a connection the other end closed fails with EPIPE on this
// thread instead of ending the player; threads it starts inherit this.
void IgnoreBrokenPipesOnThisThread() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

void SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool SendAll(int fd, std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline)) return false;
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

struct Target {
    std::string host; // as asked, without brackets
    std::uint16_t port = 0;
};

// "CONNECT host:port HTTP/1.1" and its header lines; anything else is no
// request of the browser's.
std::optional<Target> ReadConnect(int fd, Clock::time_point deadline, std::string& after) {
    std::string head;
    std::array<char, 2048> chunk{};
    std::size_t end = std::string::npos;
    while ((end = head.find("\r\n\r\n")) == std::string::npos) {
        if (head.size() > kMostRequestHead) return std::nullopt;
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got > 0) {
            head.append(chunk.data(), static_cast<std::size_t>(got));
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!WaitFor(fd, POLLIN, deadline)) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    after = head.substr(end + 4);
    const std::string line = head.substr(0, head.find("\r\n"));
    if (line.rfind("CONNECT ", 0) != 0) return std::nullopt;
    const std::size_t space = line.find(' ', 8);
    if (space == std::string::npos || line.compare(space, 6, " HTTP/") != 0) return std::nullopt;
    const std::string authority = line.substr(8, space - 8);
    Target target;
    std::string port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos || close + 1 >= authority.size() || authority[close + 1] != ':') return std::nullopt;
        target.host = authority.substr(1, close - 1);
        port = authority.substr(close + 2);
    } else {
        const std::size_t colon = authority.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        target.host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (target.host.empty() || target.host.size() > 255 || port.empty() || port.size() > 5) return std::nullopt;
    for (const char c : target.host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '-' || c == '_' || c == ':';
        if (!allowed) return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    target.port = static_cast<std::uint16_t>(value);
    return target;
}

struct HostRule {
    std::string pattern;
    std::string host;
    std::string port; // empty: the asked port
};
std::mutex gRulesMutex;
std::vector<HostRule> gHostRules;

// Chromium's pattern match: '*' stands for any run of characters.
bool MatchesPattern(std::string_view text, std::string_view pattern) {
    if (pattern.empty()) return text.empty();
    if (pattern.front() == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip) {
            if (MatchesPattern(text.substr(skip), pattern.substr(1))) return true;
        }
        return false;
    }
    return !text.empty() && text.front() == pattern.front() && MatchesPattern(text.substr(1), pattern.substr(1));
}

// Where the browser's own rules send a host, if anywhere.
Target Mapped(const Target& asked) {
    const std::lock_guard<std::mutex> lock(gRulesMutex);
    for (const HostRule& rule : gHostRules) {
        if (!MatchesPattern(asked.host, rule.pattern)) continue;
        Target mapped{rule.host, asked.port};
        unsigned value = 0;
        for (const char c : rule.port) value = value * 10 + static_cast<unsigned>(c - '0');
        if (!rule.port.empty() && value > 0 && value <= 65535) mapped.port = static_cast<std::uint16_t>(value);
        return mapped;
    }
    return asked;
}

// A TCP connection to the host, as the browser would have opened it.
int ConnectTo(const Target& asked, Clock::time_point deadline) {
    const Target target = Mapped(asked);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    if (::getaddrinfo(target.host.c_str(), std::to_string(target.port).c_str(), &hints, &found) != 0) return -1;
    int connected = -1;
    for (addrinfo* at = found; at != nullptr && connected < 0 && MillisecondsLeft(deadline) > 0; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) continue;
        SetNonBlocking(fd);
        int result = ::connect(fd, at->ai_addr, at->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS && WaitFor(fd, POLLOUT, deadline)) {
            int error = 0;
            socklen_t size = sizeof(error);
            result = (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) ? 0 : -1;
        }
        if (result == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            connected = fd;
        } else {
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    return connected;
}

// The user whose socket, from port `from`, is connected to our port `to` on
// loopback, as the kernel lists it; -1 when it is not listed.
long LoopbackPeerUser(std::uint16_t from, std::uint16_t to) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits;
        long uid = -1;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
        const std::size_t localColon = local.find(':');
        const std::size_t remoteColon = remote.find(':');
        if (localColon == std::string::npos || remoteColon == std::string::npos) continue;
        if (std::strtoul(local.c_str() + localColon + 1, nullptr, 16) == from &&
            std::strtoul(remote.c_str() + remoteColon + 1, nullptr, 16) == to)
            return uid;
    }
    return -1;
}

bool IsIpLiteral(const std::string& host) {
    in6_addr v6{};
    in_addr v4{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

// The process's own key and the certificates it issued, one per host name.
class Issuer {
public:
    bool Ready() const { return key_ != nullptr; }
    EVP_PKEY* Key() const { return key_; }

    Issuer() { key_ = EVP_EC_gen("P-256"); }

    X509* CertificateFor(const std::string& host) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (const auto found = byHost_.find(host); found != byHost_.end()) return found->second;
        X509* cert = Make(host);
        if (cert == nullptr) return nullptr;
        unsigned char* der = nullptr;
        const int size = i2d_X509(cert, &der);
        if (size <= 0) {
            X509_free(cert);
            return nullptr;
        }
        issued_.insert(std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(size)));
        OPENSSL_free(der);
        byHost_[host] = cert;
        return cert;
    }

    bool Issued(const std::string& der) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return issued_.count(der) != 0;
    }

private:
    X509* Make(const std::string& host) const {
        X509* cert = X509_new();
        if (cert == nullptr) return nullptr;
        std::array<unsigned char, 16> serial{};
        bool ok = X509_set_version(cert, 2) == 1;
        {
            // A serial of its own per certificate: the browser caches by issuer and serial.
            static std::atomic<std::uint64_t> next{1};
            const std::uint64_t value = next++ ^ static_cast<std::uint64_t>(::getpid()) << 32;
            std::memcpy(serial.data(), &value, sizeof(value));
            BIGNUM* number = BN_bin2bn(serial.data(), 8, nullptr);
            ok = ok && number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) != nullptr;
            BN_free(number);
        }
        ok = ok && X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr;
        ok = ok && X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600) != nullptr;
        X509_NAME* name = X509_get_subject_name(cert);
        const std::string common = host.size() <= 64 ? host : std::string("Tovani relay");
        ok = ok && X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                              reinterpret_cast<const unsigned char*>(common.c_str()), -1, -1, 0) == 1;
        ok = ok && X509_set_issuer_name(cert, name) == 1;
        ok = ok && X509_set_pubkey(cert, key_) == 1;
        const std::string alt = (IsIpLiteral(host) ? "IP:" : "DNS:") + host;
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        for (const auto& [nid, value] : {std::pair<int, std::string>{NID_subject_alt_name, alt},
                                         {NID_basic_constraints, "critical,CA:FALSE"},
                                         {NID_ext_key_usage, "serverAuth"}}) {
            X509_EXTENSION* ext = ok ? X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()) : nullptr;
            ok = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
            X509_EXTENSION_free(ext);
        }
        ok = ok && X509_sign(cert, key_, EVP_sha256()) > 0;
        if (!ok) {
            X509_free(cert);
            ERR_clear_error();
            return nullptr;
        }
        return cert;
    }

    EVP_PKEY* key_ = nullptr;
    std::mutex mutex_;
    std::map<std::string, X509*> byHost_;
    std::set<std::string> issued_;
};

// One side of a tunnel: a socket, with TLS on it or not.
struct Side {
    int fd = -1;
    SSL* ssl = nullptr;
    bool ended = false;     // nothing more will be read from it
    bool writeShut = false; // its writing half was closed
    short readWants = POLLIN;
    short writeWants = POLLOUT;
};

// What one read or write came to.
enum class Io { Done, Blocked, Ended, Failed };

Io SslOutcome(Side& side, int result, bool reading) {
    const int error = SSL_get_error(side.ssl, result);
    short& wants = reading ? side.readWants : side.writeWants;
    if (error == SSL_ERROR_WANT_READ) {
        wants = POLLIN;
        return Io::Blocked;
    }
    if (error == SSL_ERROR_WANT_WRITE) {
        wants = POLLOUT;
        return Io::Blocked;
    }
    ERR_clear_error();
    return (reading && error == SSL_ERROR_ZERO_RETURN) ? Io::Ended : Io::Failed;
}

Io ReadSome(Side& side, char* into, std::size_t room, std::size_t& got) {
    if (side.ssl != nullptr) {
        const int result = SSL_read(side.ssl, into, static_cast<int>(room));
        if (result > 0) {
            got = static_cast<std::size_t>(result);
            return Io::Done;
        }
        return SslOutcome(side, result, true);
    }
    const ssize_t result = ::recv(side.fd, into, room, 0);
    if (result > 0) {
        got = static_cast<std::size_t>(result);
        return Io::Done;
    }
    if (result == 0) return Io::Ended;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        side.readWants = POLLIN;
        return Io::Blocked;
    }
    return Io::Failed;
}

Io WriteSome(Side& side, const char* from, std::size_t size, std::size_t& put) {
    if (side.ssl != nullptr) {
        const int result = SSL_write(side.ssl, from, static_cast<int>(size));
        if (result > 0) {
            put = static_cast<std::size_t>(result);
            return Io::Done;
        }
        return SslOutcome(side, result, false);
    }
    const ssize_t result = ::send(side.fd, from, size, MSG_NOSIGNAL);
    if (result > 0) {
        put = static_cast<std::size_t>(result);
        return Io::Done;
    }
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        side.writeWants = POLLOUT;
        return Io::Blocked;
    }
    return Io::Failed;
}

void ShutWrite(Side& side) {
    if (side.writeShut) return;
    side.writeShut = true;
    if (side.ssl != nullptr) SSL_shutdown(side.ssl);
    else ::shutdown(side.fd, SHUT_WR);
    ERR_clear_error();
}

struct Pipe {
    std::array<char, 32 * 1024> data{};
    std::size_t start = 0;
    std::size_t end = 0;
    bool Empty() const { return start == end; }
};

// Moves what one side has to the other, as far as both let it now; false
// when the tunnel is broken.
bool Pump(Side& from, Side& to, Pipe& pipe, bool& moved, bool& readBlocked, bool& writeBlocked) {
    readBlocked = writeBlocked = false;
    for (;;) {
        if (pipe.Empty() && !from.ended) {
            std::size_t got = 0;
            const Io read = ReadSome(from, pipe.data.data(), pipe.data.size(), got);
            if (read == Io::Done) {
                pipe.start = 0;
                pipe.end = got;
                moved = true;
            } else if (read == Io::Ended) {
                from.ended = true;
                moved = true;
            } else if (read == Io::Blocked) {
                readBlocked = true;
            } else {
                return false;
            }
        }
        if (!pipe.Empty()) {
            std::size_t put = 0;
            const Io write = WriteSome(to, pipe.data.data() + pipe.start, pipe.end - pipe.start, put);
            if (write == Io::Done) {
                pipe.start += put;
                moved = true;
                continue;
            }
            if (write == Io::Blocked) {
                writeBlocked = true;
                return true;
            }
            return false;
        }
        if (from.ended) ShutWrite(to);
        return true;
    }
}

void Carry(Side& browser, Side& server) {
    Pipe up;
    Pipe down;
    for (;;) {
        bool moved = false;
        bool upReadBlocked = false, upWriteBlocked = false, downReadBlocked = false, downWriteBlocked = false;
        if (!Pump(browser, server, up, moved, upReadBlocked, upWriteBlocked)) return;
        if (!Pump(server, browser, down, moved, downReadBlocked, downWriteBlocked)) return;
        if (browser.ended && server.ended && up.Empty() && down.Empty()) return;
        if (moved) continue;
        pollfd fds[2] = {{browser.fd, 0, 0}, {server.fd, 0, 0}};
        if (upReadBlocked) fds[0].events |= browser.readWants;
        if (upWriteBlocked) fds[1].events |= server.writeWants;
        if (downReadBlocked) fds[1].events |= server.readWants;
        if (downWriteBlocked) fds[0].events |= browser.writeWants;
        const int ready = ::poll(fds, 2, kIdleLimitMs);
        if (ready == 0) return;
        if (ready < 0 && errno != EINTR) return;
        for (const pollfd& p : fds) {
            // A hang-up with nothing left to read ends the tunnel; the reads say so.
            if ((p.revents & (POLLERR | POLLNVAL)) != 0) return;
        }
    }
}

bool Handshake(SSL* ssl, int fd, bool server, Clock::time_point deadline) {
    for (;;) {
        const int result = server ? SSL_accept(ssl) : SSL_connect(ssl);
        if (result == 1) return true;
        const int error = SSL_get_error(ssl, result);
        short wants = 0;
        if (error == SSL_ERROR_WANT_READ) wants = POLLIN;
        else if (error == SSL_ERROR_WANT_WRITE) wants = POLLOUT;
        if (wants == 0 || !WaitFor(fd, wants, deadline)) {
            ERR_clear_error();
            return false;
        }
    }
}

// HTTP/1.1 on both halves: the browser's bytes go over the checked
// connection as they are, so both must speak the same protocol.
const unsigned char kHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

int ChooseHttp11(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
                 unsigned int inLength, void*) {
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, kHttp11, sizeof(kHttp11), in, inLength) != OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

class Relay {
public:
    Relay() {
        if (!issuer_.Ready()) return;
        client_ = SSL_CTX_new(TLS_client_method());
        server_ = SSL_CTX_new(TLS_server_method());
        if (client_ == nullptr || server_ == nullptr) return;
        // The pins decide about the server, on the chain it presented; the
        // chain's links are verified where it is read.
        SSL_CTX_set_verify(client_, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_min_proto_version(client_, TLS1_2_VERSION);
        SSL_CTX_set_alpn_protos(client_, kHttp11, sizeof(kHttp11));
        SSL_CTX_set_min_proto_version(server_, TLS1_2_VERSION);
        SSL_CTX_set_alpn_select_cb(server_, ChooseHttp11, nullptr);
        for (SSL_CTX* ctx : {client_, server_})
            SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        Listen();
    }

    std::uint16_t Port() const { return port_; }
    Issuer& Certificates() { return issuer_; }

    void Preconnect(const Target& target) {
        WString host = ToLowerCopy(Utf8ToWide(target.host));
        if (host.size() > 1 && host.back() == u'.') host.pop_back();
        const std::optional<PinEntry> pins = FindPinEntry(host);
        if (port_ == 0 || !pins || pins->pins.empty()) return;
        {
            const std::lock_guard<std::mutex> lock(parkedMutex_);
            ++opening_[{target.host, target.port}];
        }
        std::thread([this, target, host, entry = *pins] {
            IgnoreBrokenPipesOnThisThread();
            const Clock::time_point deadline = Clock::now() + kSetUpLimit;
            Side server{ConnectTo(target, deadline)};
            // Not the browser's connection yet: a mismatch is left for the
            // browser's own tunnel to meet and report, after whatever the
            // start-up still decides (a required update ends it first).
            const bool checked = server.fd >= 0 && OpenChecked(server, target, host, entry, deadline, false);
            if (!checked) Close(server);
            const std::lock_guard<std::mutex> lock(parkedMutex_);
            if (checked) parked_.push_back({target.host, target.port, Clock::now(), server});
            --opening_[{target.host, target.port}];
            parkedChanged_.notify_all();
        }).detach();
    }

private:
    void Listen() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 64) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ::close(fd);
            return;
        }
        port_ = ntohs(address.sin_port);
        std::thread([this, fd] { Accept(fd); }).detach();
    }

    void Accept(int listening) {
        // The tunnels' threads inherit this.
        IgnoreBrokenPipesOnThisThread();
        for (;;) {
            sockaddr_in peer{};
            socklen_t size = sizeof(peer);
            const int fd = ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            // The relay serves this user's browser alone: another user's
            // program on this machine gets nothing of it.
            if (LoopbackPeerUser(ntohs(peer.sin_port), port_) != static_cast<long>(::geteuid())) {
                ::close(fd);
                continue;
            }
            if (tunnels_.fetch_add(1) >= kMostTunnels) {
                tunnels_.fetch_sub(1);
                ::close(fd);
                continue;
            }
            std::thread([this, fd] {
                Tunnel(fd);
                tunnels_.fetch_sub(1);
            }).detach();
        }
    }

    void Tunnel(int browserFd) {
        SetNonBlocking(browserFd);
        const int on = 1;
        ::setsockopt(browserFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        const Clock::time_point deadline = Clock::now() + kSetUpLimit;
        std::string early;
        const std::optional<Target> target = ReadConnect(browserFd, deadline, early);
        if (!target) {
            SendAll(browserFd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", deadline);
            ::close(browserFd);
            return;
        }
        WString host = ToLowerCopy(Utf8ToWide(target->host));
        if (host.size() > 1 && host.back() == u'.') host.pop_back();
        const std::optional<PinEntry> pins = FindPinEntry(host);
        const bool pinned = pins && !pins->pins.empty();

        Side browser{browserFd};
        Side server;
        bool usable = pinned && TakeParked(*target, server, deadline);
        if (!usable) {
            server.fd = ConnectTo(*target, deadline);
            usable = server.fd >= 0;
            if (usable && pinned) usable = OpenChecked(server, *target, host, *pins, deadline);
        }
        if (!usable) {
            SendAll(browserFd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", deadline);
        } else if (SendAll(browserFd, "HTTP/1.1 200 Connection Established\r\n\r\n", deadline)) {
            if (!pinned) {
                // Bytes the browser sent before our answer belong to the tunnel.
                if (early.empty() || SendAll(server.fd, early, deadline)) Carry(browser, server);
            } else if (early.empty() && OfferOwnSession(browser, target->host, deadline)) {
                Carry(browser, server);
            }
        }
        Close(browser);
        Close(server);
        ERR_clear_error();
    }

    // The TLS connection to the pinned host, kept only when its own chain
    // carries the host's pins. A mismatch is reported; a connection that
    // never finished its handshake is only refused (no chain, no verdict).
    bool OpenChecked(Side& server, const Target& target, const WString& host, const PinEntry& entry,
                     Clock::time_point deadline, bool report = true) {
        server.ssl = SSL_new(client_);
        if (server.ssl == nullptr || SSL_set_fd(server.ssl, server.fd) != 1) return false;
        if (!IsIpLiteral(target.host)) SSL_set_tlsext_host_name(server.ssl, target.host.c_str());
        if (!Handshake(server.ssl, server.fd, false, deadline)) return false;
        X509* leaf = SSL_get1_peer_certificate(server.ssl);
        const ServerChain chain = LinkedChain(leaf, SSL_get_peer_cert_chain(server.ssl));
        X509_free(leaf);
        if (ChainMatchesPins(chain, entry)) return true;
        if (!report) return false;
        DebugLog("browser relay: a connection to a pinned host presented a chain without its pins");
        // The platform's own domain ends in its pin dialog, as for the
        // service client; any other pinned host in the interception notice.
        if (IsPrimaryDomainHost(host)) ValidateServerPinsAgainst(chain, host, entry);
        else ReportMismatch(host);
        return false;
    }

    bool OfferOwnSession(Side& browser, const std::string& name, Clock::time_point deadline) {
        X509* cert = issuer_.CertificateFor(name);
        if (cert == nullptr) return false;
        browser.ssl = SSL_new(server_);
        return browser.ssl != nullptr && SSL_use_certificate(browser.ssl, cert) == 1 &&
               SSL_use_PrivateKey(browser.ssl, issuer_.Key()) == 1 && SSL_set_fd(browser.ssl, browser.fd) == 1 &&
               Handshake(browser.ssl, browser.fd, true, deadline);
    }

    struct Parked {
        std::string host;
        std::uint16_t port;
        Clock::time_point since;
        Side server;
    };

    static void Close(Side& side) {
        if (side.ssl != nullptr) SSL_free(side.ssl);
        if (side.fd >= 0) ::close(side.fd);
        side.ssl = nullptr;
        side.fd = -1;
    }

    // A parked, checked connection to the target that is still open and
    // has said nothing (its session tickets aside); older ones are closed.
    bool TakeParked(const Target& target, Side& server, Clock::time_point deadline) {
        std::vector<Parked> taken;
        {
            std::unique_lock<std::mutex> lock(parkedMutex_);
            // One being opened for this host is waited for: its handshake is
            // under way, a second one would only race it.
            const std::pair<std::string, std::uint16_t> key{target.host, target.port};
            parkedChanged_.wait_until(lock, deadline, [&] { return opening_[key] == 0; });
            for (auto it = parked_.begin(); it != parked_.end();) {
                const bool stale = Clock::now() - it->since > std::chrono::seconds(30);
                if (stale || (it->host == target.host && it->port == target.port)) {
                    taken.push_back(*it);
                    it = parked_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        bool found = false;
        for (Parked& p : taken) {
            const bool stale = Clock::now() - p.since > std::chrono::seconds(30);
            char byte = 0;
            const int peeked = stale || found ? 0 : SSL_peek(p.server.ssl, &byte, 1);
            const bool quiet = peeked <= 0 && SSL_get_error(p.server.ssl, peeked) == SSL_ERROR_WANT_READ;
            ERR_clear_error();
            if (!stale && !found && quiet) {
                server = p.server;
                found = true;
            } else {
                Close(p.server);
            }
        }
        return found;
    }

    Issuer issuer_;
    std::mutex parkedMutex_;
    std::condition_variable parkedChanged_;
    std::vector<Parked> parked_;
    std::map<std::pair<std::string, std::uint16_t>, int> opening_;
    SSL_CTX* client_ = nullptr;
    SSL_CTX* server_ = nullptr;
    std::uint16_t port_ = 0;
    std::atomic<int> tunnels_{0};
};

// Never destroyed: its threads may run until the process ends.
Relay& TheRelay() {
    static Relay* relay = new Relay();
    return *relay;
}

} // namespace

std::uint16_t StartBrowserRelay() {
    const std::uint16_t port = TheRelay().Port();
    static std::once_flag logged;
    std::call_once(logged, [port] {
        if (port == 0) DebugLog("browser relay: could not listen on loopback; pinned hosts stay unreachable");
    });
    return port;
}

std::string BrowserRelaySwitches() {
    const std::uint16_t port = StartBrowserRelay();
    if (port == 0) return {};
    // Loopback addresses skip a proxy unless told otherwise; the platform's
    // hosts may be there too (a local deployment).
    return "--proxy-server=https=127.0.0.1:" + std::to_string(port) + " --proxy-bypass-list=<-loopback>";
}

void PreconnectBrowserRelay(const std::string& host, std::uint16_t port) {
    if (host.empty() || host.size() > 255 || port == 0) return;
    TheRelay().Preconnect(Target{host, port});
}

bool IssuedByBrowserRelay(const std::string& certificateDer) {
    return !certificateDer.empty() && TheRelay().Certificates().Issued(certificateDer);
}

void SetBrowserRelayHostRules(std::string_view switches) {
    const std::string_view name = "--host-resolver-rules=";
    std::vector<HostRule> rules;
    const std::size_t at = switches.find(name);
    if (at != std::string_view::npos) {
        // The value runs to the next space outside quotes (the rules hold spaces).
        std::string value;
        bool quoted = at > 0 && switches[at - 1] == '"';
        for (std::size_t i = at + name.size(); i < switches.size(); ++i) {
            const char c = switches[i];
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (c == ' ' && !quoted) break;
            value += c;
        }
        std::size_t start = 0;
        while (start <= value.size()) {
            const std::size_t comma = std::min(value.find(',', start), value.size());
            std::istringstream words(value.substr(start, comma - start));
            std::string verb, pattern, to;
            if (words >> verb >> pattern >> to && verb == "MAP") {
                HostRule rule{pattern, to, {}};
                const std::size_t colon = to.rfind(':');
                if (colon != std::string::npos && to.find(':') == colon) {
                    rule.host = to.substr(0, colon);
                    rule.port = to.substr(colon + 1);
                    if (rule.port.empty() || rule.port.size() > 5 ||
                        rule.port.find_first_not_of("0123456789") != std::string::npos)
                        rule.port.clear();
                }
                rules.push_back(std::move(rule));
            }
            start = comma + 1;
        }
    }
    const std::lock_guard<std::mutex> lock(gRulesMutex);
    gHostRules = std::move(rules);
}

void SetBrowserRelayMismatchListener(std::function<void(const WString& host)> listener) {
    const std::lock_guard<std::mutex> lock(gListenerMutex);
    gMismatchListener = std::move(listener);
}

} // namespace WebView
