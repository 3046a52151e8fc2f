#pragma once
// A loopback listener that lets connections in (the system completes them
// from its backlog) and never answers: a service that is up and silent.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

namespace TestSupport {

class SilentListener {
public:
    explicit SilentListener(const char* address = "127.0.0.2") {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        inet_pton(AF_INET, address, &where.sin_addr);
        socklen_t length = sizeof where;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 && listen(socket_, 64) == 0 &&
            getsockname(socket_, reinterpret_cast<sockaddr*>(&where), &length) == 0) {
            port_ = ntohs(where.sin_port);
            base_ = std::string("https://") + address + ":" + std::to_string(port_);
        }
    }
    ~SilentListener() {
#ifdef _WIN32
        closesocket(socket_);
        WSACleanup();
#else
        close(socket_);
#endif
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    // "https://ADDR:PORT", empty when the listener could not be set up.
    const std::string& Base() const { return base_; }

private:
#ifdef _WIN32
    SOCKET socket_ = INVALID_SOCKET;
#else
    int socket_ = -1;
#endif
    std::uint16_t port_ = 0;
    std::string base_;
};

} // namespace TestSupport
