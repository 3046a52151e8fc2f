#pragma once
// A plain HTTP listener on a loopback address of its own that stands for a
// host outside the platform: it answers every request with a small page and
// keeps what arrived, so a test can tell whether anything reached it; a test
// may give it answers of its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_tls_linux.h"

namespace PlayerTesting {

class OutsideListener {
public:
    // What to answer a request (its bytes up to the blank line) with: a whole
    // HTTP response. The default answers every request with a small page.
    using Answer = std::string (*)(const std::string& request);

    // address: a dotted IPv4 loopback address, e.g. "127.0.0.7".
    explicit OutsideListener(const std::string& address, Answer answer = nullptr)
        : address_(address), answer_(answer) {
        listener_ = TestSupport::ListenOnLoopback(address, port_);
        if (listener_ < 0) return;
        worker_ = std::thread([this] { Serve(); });
    }

    ~OutsideListener() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        if (listener_ >= 0) close(listener_);
    }

    OutsideListener(const OutsideListener&) = delete;
    OutsideListener& operator=(const OutsideListener&) = delete;

    bool listening() const { return port_ != 0; }
    std::string HostPort() const { return address_ + ":" + std::to_string(port_); }

    // Every request received so far, each as its bytes up to the blank line.
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> guard(lock_);
        return requests_;
    }
    // Connections accepted, whether or not a request followed.
    int Connections() const { return connections_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0) continue;
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++connections_;
            std::string request;
            char buffer[8192];
            for (int rounds = 0; rounds < 50 && request.find("\r\n\r\n") == std::string::npos; ++rounds) {
                pollfd readable{client, POLLIN, 0};
                if (poll(&readable, 1, 100) <= 0) continue;
                const ssize_t got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            if (!request.empty()) {
                std::lock_guard<std::mutex> guard(lock_);
                requests_.push_back(request.substr(0, request.find("\r\n\r\n")));
            }
            static const std::string page =
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 26\r\nConnection: close\r\n\r\n"
                "<title>outside</title>ok\r\n";
            const std::string answer = answer_ != nullptr ? answer_(request.substr(0, request.find("\r\n\r\n"))) : page;
            for (std::size_t sent = 0; sent < answer.size();) {
                const ssize_t n = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            close(client);
        }
    }

    std::string address_;
    Answer answer_ = nullptr;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread worker_;
    std::mutex lock_;
    std::vector<std::string> requests_;
};

} // namespace PlayerTesting
