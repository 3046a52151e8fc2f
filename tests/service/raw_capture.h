#pragma once
// A one-shot plain HTTP listener on loopback that keeps the request bytes
// exactly as they arrived: the development service's echo cannot show header
// order or headers with an empty value.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/text.h"

namespace ServiceTest {

class RawCapture {
public:
    RawCapture() {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7f000001);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        worker_ = std::thread([this] { Serve(); });
    }

    ~RawCapture() {
        if (worker_.joinable()) worker_.join();
        Close(listener_);
#ifdef _WIN32
        WSACleanup();
#endif
    }

    RawCapture(const RawCapture&) = delete;
    RawCapture& operator=(const RawCapture&) = delete;

    bool listening() const { return port_ != 0; }
    WString Url(const std::string& path) const { return Utf8ToWide("http://127.0.0.1:" + std::to_string(port_) + path); }

    // The request's bytes: headers and the body its Content-Length announced.
    std::string Request() {
        if (worker_.joinable()) worker_.join();
        return request_;
    }

private:
#ifdef _WIN32
    using Socket = SOCKET;
    static void Close(Socket s) {
        if (s != INVALID_SOCKET) closesocket(s);
    }
    Socket listener_ = INVALID_SOCKET;
#else
    using Socket = int;
    static void Close(Socket s) {
        if (s >= 0) close(s);
    }
    Socket listener_ = -1;
#endif

    // Waits at most ten seconds for the client, so a test never hangs here.
    static bool Readable(Socket s) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval timeout{10, 0};
        return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &timeout) > 0;
    }

    void Serve() {
        if (!Readable(listener_)) return;
        const Socket client = accept(listener_, nullptr, nullptr);
#ifdef _WIN32
        if (client == INVALID_SOCKET) return;
#else
        if (client < 0) return;
#endif
        std::size_t wanted = std::string::npos;
        char buffer[65536];
        while (request_.size() < wanted && Readable(client)) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request_.append(buffer, static_cast<std::size_t>(got));
            const std::size_t end = request_.find("\r\n\r\n");
            if (end != std::string::npos && wanted == std::string::npos) {
                std::size_t length = 0;
                const std::string head = ToLowerAscii(request_.substr(0, end));
                const std::size_t mark = head.find("\r\ncontent-length:");
                if (mark != std::string::npos) length = std::strtoul(head.c_str() + mark + 17, nullptr, 10);
                wanted = end + 4 + length;
            }
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        send(client, answer.data(), static_cast<int>(answer.size()), 0);
        Close(client);
    }

    std::uint16_t port_ = 0;
    std::thread worker_;
    std::string request_;
};

} // namespace ServiceTest
