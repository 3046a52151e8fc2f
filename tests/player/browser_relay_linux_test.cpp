// The browser relay's front door, over real sockets: what it answers this
// user's browser and that it answers no other user at all. (The pinned path,
// end to end with the real browser, is in the player's traffic tests.)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "player/browser_relay_linux.h"
#include "service/pins.h"
#include "service/server_chain_linux.h"
#include "tests/support/loopback_tls_linux.h"

namespace {

int ConnectToRelay() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(WebView::StartBrowserRelay());
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends text, then reads until the peer closes or `until` arrives.
std::string Exchange(int fd, const std::string& text, const std::string& until = "\r\n\r\n") {
    if (!text.empty()) send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::string got;
    char chunk[1024];
    while (got.find(until) == std::string::npos) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
}

// A pinned TLS server on loopback with a key of its own: counts its
// handshakes and answers each request with "ok".
class PinnedServer {
public:
    PinnedServer() {
        fd_ = TestSupport::ListenOnLoopback("127.0.0.1", port_, 4);
        worker_ = std::thread([this] {
            for (int peer; (peer = accept(fd_, nullptr, nullptr)) >= 0;) {
                timeval limit{5, 0};
                setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
                connections_.emplace_back([this, peer] {
                    SSL* ssl = SSL_new(tls_.context());
                    SSL_set_fd(ssl, peer);
                    if (SSL_accept(ssl) == 1) {
                        ++handshakes;
                        char chunk[1024];
                        if (SSL_read(ssl, chunk, sizeof chunk) > 0) {
                            ++requests;
                            const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
                            SSL_write(ssl, answer, sizeof answer - 1);
                        }
                    }
                    SSL_free(ssl);
                    close(peer);
                });
            }
        });
    }
    ~PinnedServer() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        worker_.join();
        for (std::thread& t : connections_) t.join();
    }
    std::string Pin() const { return SpkiPin(SpkiDer(tls_.certificate())); }
    std::uint16_t port() const { return port_; }
    std::atomic<int> handshakes{0};
    std::atomic<int> requests{0};

private:
    TestSupport::SelfSignedTls tls_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread worker_;
    std::vector<std::thread> connections_;
};

} // namespace

// The pinned path over real TLS: a connection opened ahead is the one the
// browser's first tunnel takes (one handshake at the server for one
// request), the browser's session is under a certificate the relay issued,
// and the request goes through as sent.
TEST(BrowserRelay, APinnedHostsFirstTunnelTakesTheConnectionOpenedAhead) {
    PinnedServer server;
    SetPins({PinEntry{u"127.0.0.1", {server.Pin()}}});
    // The tunnel below may come while that connection is still being
    // opened: it waits for it rather than opening its own.
    WebView::PreconnectBrowserRelay("127.0.0.1", server.port());

    const int fd = ConnectToRelay();
    ASSERT_GE(fd, 0);
    const std::string target = "127.0.0.1:" + std::to_string(server.port());
    ASSERT_EQ(Exchange(fd, "CONNECT " + target + " HTTP/1.1\r\n\r\n"), "HTTP/1.1 200 Connection Established\r\n\r\n");
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    ASSERT_EQ(SSL_connect(ssl), 1);
    X509* seen = SSL_get1_peer_certificate(ssl);
    unsigned char* der = nullptr;
    const int length = i2d_X509(seen, &der);
    EXPECT_TRUE(WebView::IssuedByBrowserRelay(std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(length))));
    OPENSSL_free(der);
    X509_free(seen);
    const std::string request = "GET / HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
    SSL_write(ssl, request.data(), static_cast<int>(request.size()));
    std::string answer;
    char chunk[256];
    for (int n; (n = SSL_read(ssl, chunk, sizeof chunk)) > 0;) answer.append(chunk, static_cast<std::size_t>(n));
    EXPECT_EQ(answer.substr(answer.size() > 2 ? answer.size() - 2 : 0), "ok") << answer;
    EXPECT_EQ(server.handshakes, 1);
    EXPECT_EQ(server.requests, 1);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    close(fd);
    SetPins({});
}

TEST(BrowserRelay, TunnelsThisUsersRequestsAndAnswersNoOtherUser) {
    ASSERT_NE(WebView::StartBrowserRelay(), 0);
    EXPECT_NE(WebView::BrowserRelaySwitches().find("--proxy-server=https=127.0.0.1:"), std::string::npos);

    // An unpinned server: tunnelled untouched, both ways.
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
    socklen_t size = sizeof at;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(server, 4), 0);
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&at), &size), 0);
    const std::string target = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
    std::thread answer([server] {
        const int peer = accept(server, nullptr, nullptr);
        char chunk[16];
        const ssize_t n = recv(peer, chunk, sizeof chunk, 0);
        if (n == 4 && std::string(chunk, 4) == "ping") send(peer, "pong", 4, MSG_NOSIGNAL);
        close(peer);
    });
    int fd = ConnectToRelay();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n"),
              "HTTP/1.1 200 Connection Established\r\n\r\n");
    EXPECT_EQ(Exchange(fd, "ping", "pong"), "pong");
    close(fd);
    answer.join();
    close(server);

    // No server there: refused; anything but CONNECT, or a host that is no
    // host name: a bad request.
    fd = ConnectToRelay();
    EXPECT_EQ(Exchange(fd, "CONNECT " + target + " HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 502 ", 0), 0u);
    close(fd);
    for (const std::string bad : {"GET http://127.0.0.1/ HTTP/1.1\r\n\r\n", "CONNECT a/b@127.0.0.1:443 HTTP/1.1\r\n\r\n",
                                  "CONNECT 127.0.0.1:0 HTTP/1.1\r\n\r\n", "CONNECT 127.0.0.1 HTTP/1.1\r\n\r\n"}) {
        fd = ConnectToRelay();
        EXPECT_EQ(Exchange(fd, bad).rfind("HTTP/1.1 400 ", 0), 0u) << bad;
        close(fd);
    }

    // Another user's program on this machine is not answered at all.
    if (geteuid() != 0) GTEST_SKIP() << "another user needs root to stand for";
    const pid_t other = fork();
    if (other == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int theirs = ConnectToRelay();
        if (theirs < 0) _exit(3);
        const std::string got = Exchange(theirs, "CONNECT " + target + " HTTP/1.1\r\n\r\n");
        _exit(got.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
