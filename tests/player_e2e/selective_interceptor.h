#pragma once
// A TLS-inspecting middlebox on a loopback address of its own, in front of
// the development service: it passes connections it does not want through
// untouched, and terminates the ones it wants with a certificate of its own,
// keeping every request byte it reads there. Selective, it takes only
// connections that open like Chromium's (GREASE values among the offered
// cipher suites), as an interceptor that leaves programs alone but inspects
// the browser would; otherwise it takes every connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_tls_linux.h"

namespace PlayerTesting {

class SelectiveInterceptor {
public:
    SelectiveInterceptor(const std::string& address, std::uint16_t genuinePort, bool selective)
        : genuinePort_(genuinePort), selective_(selective) {
        // A client that hangs up right after the handshake (the relay, on a
        // chain without its pins) meets the session tickets written after it:
        // that write fails here instead of ending the test program.
        std::signal(SIGPIPE, SIG_IGN);
        listener_ = TestSupport::ListenOnLoopback(address, port_);
        if (listener_ < 0) return;
        worker_ = std::thread([this] { Serve(); });
    }

    ~SelectiveInterceptor() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        for (std::thread& t : connections_) t.join();
        if (listener_ >= 0) close(listener_);
    }

    std::uint16_t port() const { return port_; }
    int Passed() const { return passed_; }
    int Taken() const { return taken_; }
    // The plaintext read from connections it terminated.
    std::vector<std::string> Read() {
        std::lock_guard<std::mutex> guard(lock_);
        return read_;
    }

private:
    // True when the first bytes are a ClientHello offering a GREASE cipher suite.
    static bool OpensLikeChromium(const unsigned char* b, std::size_t n) {
        // record (5), handshake header (4), version (2), random (32)
        std::size_t at = 5 + 4 + 2 + 32;
        if (n < at + 1 || b[0] != 0x16 || b[5] != 0x01) return false;
        at += 1 + b[at];
        if (n < at + 2) return false;
        const std::size_t suites = (std::size_t(b[at]) << 8) | b[at + 1];
        at += 2;
        for (std::size_t i = 0; i + 1 < suites && at + i + 1 < n; i += 2) {
            if (b[at + i] == b[at + i + 1] && (b[at + i] & 0x0f) == 0x0a) return true;
        }
        return false;
    }

    void Serve() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connections_.emplace_back([this, fd] { Handle(fd); });
        }
    }

    void Handle(int fd) {
        unsigned char hello[2048];
        ssize_t seen = 0;
        for (int i = 0; i < 50 && seen < 64; ++i) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) seen = recv(fd, hello, sizeof hello, MSG_PEEK);
            if (seen <= 0 && i > 0) break;
        }
        if (seen > 0 && (!selective_ || OpensLikeChromium(hello, static_cast<std::size_t>(seen)))) {
            ++taken_;
            Terminate(fd);
        } else if (seen > 0) {
            ++passed_;
            PassThrough(fd);
        }
        close(fd);
    }

    void Terminate(int fd) {
        SSL* ssl = SSL_new(tls_.context());
        SSL_set_fd(ssl, fd);
        timeval limit{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (SSL_accept(ssl) == 1) {
            std::string request;
            char chunk[4096];
            int got = 0;
            while (request.find("\r\n\r\n") == std::string::npos && (got = SSL_read(ssl, chunk, sizeof chunk)) > 0)
                request.append(chunk, static_cast<std::size_t>(got));
            if (!request.empty()) {
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    read_.push_back(request);
                }
                const std::string page = "<p>intercepted</p>";
                const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                           std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
                SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
            }
        }
        SSL_free(ssl);
        ERR_clear_error();
    }

    void PassThrough(int fd) {
        const int genuine = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(genuinePort_);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (genuine >= 0 && connect(genuine, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            char chunk[16384];
            for (;;) {
                pollfd p[2] = {{fd, POLLIN, 0}, {genuine, POLLIN, 0}};
                if (poll(p, 2, 10000) <= 0 || stop_) break;
                bool ended = false;
                for (int side = 0; side < 2 && !ended; ++side) {
                    if ((p[side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                    const ssize_t got = recv(p[side].fd, chunk, sizeof chunk, 0);
                    ended = got <= 0 || send(p[1 - side].fd, chunk, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got;
                }
                if (ended) break;
            }
        }
        if (genuine >= 0) close(genuine);
    }

    std::uint16_t genuinePort_;
    bool selective_;
    TestSupport::SelfSignedTls tls_{"Inspecting Middlebox", 7};
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> passed_{0};
    std::atomic<int> taken_{0};
    std::thread worker_;
    std::vector<std::thread> connections_;
    std::mutex lock_;
    std::vector<std::string> read_;
};

} // namespace PlayerTesting
