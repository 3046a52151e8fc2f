// The browser relay's front door, over real sockets: what it answers this
// user's browser and that it answers no other user at all. (The pinned path,
// end to end with the real browser, is in the player's traffic tests.)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "player/browser_relay_linux.h"

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

} // namespace

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
