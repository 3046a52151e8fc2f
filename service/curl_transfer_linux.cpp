#include "service/curl_transfer_linux.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

#include "service/http_client.h"
#include "service/server_chain_linux.h"

namespace {

// The session timeouts: resolve and connect (with the handshake) in 10 s;
// sending and receiving may stall for 30 s before the exchange gives up.
constexpr long kConnectTimeoutMs = 10000;
constexpr long kStallSeconds = 30;

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct ReceiveState {
    std::uint32_t lastStatus = 0;
    bool headersDone = false;
    bool outOfMemory = false;
    bool tooLarge = false;
    std::string* body = nullptr;
    std::size_t maxBody = kMaxResponseBytes;
};

// What the TLS layer needs to judge a server during the handshake.
struct HandshakeCheck {
    const CurlTransfer* transfer = nullptr;
    CurlOutcome* outcome = nullptr;
};

// The exchange running on this thread. A kept connection's TLS context
// outlives the exchange that made it, so the check is found here rather than
// through a pointer stored in that context.
thread_local HandshakeCheck* tCurrentCheck = nullptr;

// Runs in place of OpenSSL's own verification, during the handshake, so a
// server that fails its pins is refused before any request byte is sent.
int CheckServerInHandshake(X509_STORE_CTX* ctx, void*) {
    HandshakeCheck* check = tCurrentCheck;
    // A handshake outside any exchange is never accepted.
    if (check == nullptr) return 0;
    ServerChain chain = LinkedChain(X509_STORE_CTX_get0_cert(ctx), X509_STORE_CTX_get0_untrusted(ctx));
    check->outcome->chain = std::move(chain);
    // A probe only wanted the chain: it ends the connection before sending anything.
    if (check->transfer->collectChain) return 0;
    if (ChainMatchesPins(check->outcome->chain, *check->transfer->pins)) return 1;
    check->outcome->pinRejected = true;
    X509_STORE_CTX_set_error(ctx, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
}

// Called for each new connection only; a reused one was judged when it was made.
CURLcode PrepareTls(CURL*, void* sslCtx, void* arg) {
    if (sslCtx == nullptr) return CURLE_OK;
    auto* ctx = static_cast<SSL_CTX*>(sslCtx);
    auto* check = static_cast<HandshakeCheck*>(arg);
    // A kept connection must keep the certificate it was judged by: no
    // renegotiation can bring another one in.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    if (check->transfer->pins || check->transfer->collectChain) {
        SSL_CTX_set_cert_verify_callback(ctx, CheckServerInHandshake, nullptr);
        return CURLE_OK;
    }
    // curl would read the system bundle on every handle; the shared store
    // (system roots and the profile's anchors) is loaded once.
    X509_STORE* store = SharedTrustStore();
    if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
    SSL_CTX_set1_cert_store(ctx, store);
    return CURLE_OK;
}

std::uint32_t StatusFromLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    std::uint32_t status = 0;
    for (std::size_t i = space + 1; i < line.size() && i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        status = status * 10 + static_cast<std::uint32_t>(line[i] - '0');
    }
    return status;
}

// Interim 1xx answers have headers too; only the final one counts as a response.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<ReceiveState*>(user);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        state->lastStatus = StatusFromLine(line);
    } else if (line == "\r\n" || line == "\n") {
        if (state->lastStatus >= 200) state->headersDone = true;
    }
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<ReceiveState*>(user);
    if (size * count > state->maxBody - std::min(state->body->size(), state->maxBody)) {
        state->tooLarge = true;
        return 0;
    }
    try {
        state->body->append(data, size * count);
    } catch (const std::bad_alloc&) {
        // No exception may cross libcurl; the caller rethrows.
        state->outOfMemory = true;
        return 0;
    }
    return size * count;
}

} // namespace

bool CurlAvailable() {
    static std::once_flag once;
    static bool available = false;
    std::call_once(once, [] { available = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return available;
}

namespace {

// The kept connections, one cache for each way of trusting a server: a
// connection is reused only by exchanges that would have accepted its
// server on the same terms. A probe that only reads the chain keeps nothing.
class ConnectionCaches {
public:
    CURLSH* For(const CurlTransfer& transfer) {
        if (transfer.collectChain) return nullptr;
        std::string key;
        if (transfer.pins) {
            key = PinsKey(*transfer.pins);
        } else {
            key = transfer.verifyPeer ? "ordinary" : "unverified";
        }
        std::lock_guard<std::mutex> guard(lock_);
        auto found = shares_.find(key);
        if (found != shares_.end()) return found->second->share;
        auto made = std::make_unique<Share>();
        made->share = curl_share_init();
        if (made->share == nullptr) return nullptr;
        curl_share_setopt(made->share, CURLSHOPT_LOCKFUNC, Lock);
        curl_share_setopt(made->share, CURLSHOPT_UNLOCKFUNC, Unlock);
        curl_share_setopt(made->share, CURLSHOPT_USERDATA, made.get());
        // Connections only: TLS sessions are not shared, so none is resumed.
        curl_share_setopt(made->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        CURLSH* share = made->share;
        shares_.emplace(std::move(key), std::move(made));
        return share;
    }

private:
    struct Share {
        CURLSH* share = nullptr;
        std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    };
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<Share*>(user)->locks[static_cast<std::size_t>(data) % CURL_LOCK_DATA_LAST].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<Share*>(user)->locks[static_cast<std::size_t>(data) % CURL_LOCK_DATA_LAST].unlock();
    }
    std::mutex lock_;
    // Never freed: kept connections live as long as the process.
    std::map<std::string, std::unique_ptr<Share>> shares_;
};

ConnectionCaches& Caches() {
    static ConnectionCaches* caches = new ConnectionCaches();
    return *caches;
}

CurlOutcome RunCurlTransferHere(const CurlTransfer& transfer);

} // namespace

CurlOutcome RunCurlTransfer(const CurlTransfer& transfer) {
    return RunPumped([&transfer] { return RunCurlTransferHere(transfer); });
}

namespace {

CurlOutcome RunCurlTransferHere(const CurlTransfer& transfer) {
    CurlOutcome outcome;
    if (!CurlAvailable()) {
        outcome.code = CURLE_FAILED_INIT;
        return outcome;
    }
    std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
    if (!easy) {
        outcome.code = CURLE_FAILED_INIT;
        return outcome;
    }
    CURL* h = easy.get();
    ReceiveState state;
    state.body = &outcome.body;
    state.maxBody = transfer.maxBodyBytes;

    curl_easy_setopt(h, CURLOPT_URL, transfer.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (CURLSH* share = Caches().For(transfer)) {
        curl_easy_setopt(h, CURLOPT_SHARE, share);
    } else {
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    }
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(transfer.deadlineMs));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(transfer.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_USERAGENT, transfer.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);

    // Judged in the handshake either way: by the pins (or not at all, for a
    // probe that only collects the chain), else by ordinary validation.
    const bool ownCheck = transfer.pins || transfer.collectChain;
    const bool verify = ownCheck || transfer.verifyPeer;
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verify && !ownCheck ? 2L : 0L);
    curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    // Each new connection shows its certificate afresh: a resumed session would skip the check.
    curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    HandshakeCheck check{&transfer, &outcome};
    struct CurrentCheck {
        explicit CurrentCheck(HandshakeCheck* check) { tCurrentCheck = check; }
        ~CurrentCheck() { tCurrentCheck = nullptr; }
    } current(&check);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, PrepareTls);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &check);

    if (transfer.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (transfer.method == "GET" && transfer.body == nullptr) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        // Any other verb carries its body verbatim, an empty one as a length of 0.
        static const std::string kNoBody;
        const std::string& body = transfer.body != nullptr ? *transfer.body : kNoBody;
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, transfer.method.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }

    std::unique_ptr<curl_slist, SlistCleanup> headers;
    for (const std::string& line : transfer.headerLines) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (grown == nullptr) throw std::bad_alloc();
        headers.release();
        headers.reset(grown);
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    outcome.code = curl_easy_perform(h);
    if (state.outOfMemory || outcome.code == CURLE_OUT_OF_MEMORY) throw std::bad_alloc();

    long requestSize = 0;
    if (curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &requestSize) == CURLE_OK) outcome.requestSent = requestSize > 0;
    long newConnections = 1;
    curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &newConnections);
    outcome.reused = newConnections == 0 && outcome.code == CURLE_OK;
    const bool noConnection = outcome.code == CURLE_COULDNT_RESOLVE_HOST || outcome.code == CURLE_COULDNT_CONNECT ||
                              outcome.code == CURLE_OPERATION_TIMEDOUT;
    outcome.unreachable = noConnection && !outcome.chain.haveCertificate && !outcome.requestSent;
    outcome.tooLarge = state.tooLarge || outcome.code == CURLE_FILESIZE_EXCEEDED;
    // A body cut short by the size cap or the deadline is no response.
    const bool cutShort = outcome.tooLarge || outcome.code == CURLE_OPERATION_TIMEDOUT;
    outcome.responseRead = state.headersDone && !cutShort;
    outcome.statusCode = outcome.responseRead ? state.lastStatus : 0;
    if (!outcome.responseRead) outcome.body.clear();
    return outcome;
}

} // namespace

unsigned long WinHttpErrorFor(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return 12007; // ERROR_WINHTTP_NAME_NOT_RESOLVED
    case CURLE_COULDNT_CONNECT:
        return 12029; // ERROR_WINHTTP_CANNOT_CONNECT
    case CURLE_OPERATION_TIMEDOUT:
        return 12002; // ERROR_WINHTTP_TIMEOUT
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return 12175; // ERROR_WINHTTP_SECURE_FAILURE
    case CURLE_URL_MALFORMAT:
        return 12005; // ERROR_WINHTTP_INVALID_URL
    case CURLE_UNSUPPORTED_PROTOCOL: // also an answer that is no HTTP at all
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING:
        return 12152; // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
    case CURLE_FAILED_INIT:
        return 12004; // ERROR_WINHTTP_INTERNAL_ERROR
    default:
        return 12030; // ERROR_WINHTTP_CONNECTION_ERROR: reset, closed, nothing received
    }
}

std::string BuildRequestUrl(bool secure, const std::string& host, std::uint16_t port, const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = secure ? "https://" : "http://";
    url += host;
    url += ':';
    url += std::to_string(port);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f) {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 15];
        } else {
            url += c;
        }
    }
    return url;
}
