// A TCP relay that gives loopback the round trip of a real network: every
// byte reaches the other side half a round trip after it was sent, in both
// directions, and a connection carries nothing until one whole round trip
// after it was opened (what a connect costs). Prints one line per accepted
// connection, so a benchmark can count the connections a program opened.
//
//   bench_relay LISTEN_ADDR:PORT TARGET_ADDR:PORT RTT_MS
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool Parse(const std::string& text, sockaddr_in& out) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1)));
    return inet_pton(AF_INET, text.substr(0, colon).c_str(), &out.sin_addr) == 1;
}

// One direction: what is read from `from` is written to `to` at its time.
void Pipe(int from, int to, Clock::time_point opensAt, Clock::duration delay) {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Chunk> queue;
    bool ended = false;
    std::thread writer([&] {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> guard(lock);
                wake.wait(guard, [&] { return ended || !queue.empty(); });
                if (queue.empty()) break;
                chunk = std::move(queue.front());
                queue.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            for (std::size_t sent = 0; sent < chunk.bytes.size();) {
                const ssize_t n = send(to, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) return;
                sent += static_cast<std::size_t>(n);
            }
        }
        // The end travels as late as the bytes before it.
        std::this_thread::sleep_until(std::max(Clock::now(), opensAt) + delay);
        shutdown(to, SHUT_WR);
    });
    char buffer[65536];
    for (;;) {
        const ssize_t n = recv(from, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        std::lock_guard<std::mutex> guard(lock);
        queue.push_back({std::max(Clock::now(), opensAt) + delay, std::string(buffer, static_cast<std::size_t>(n))});
        wake.notify_one();
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        ended = true;
    }
    wake.notify_one();
    writer.join();
}

void Relay(int client, sockaddr_in target, Clock::duration rtt) {
    const Clock::time_point opensAt = Clock::now() + rtt;
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(client);
        close(server);
        return;
    }
    int one = 1;
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread up(Pipe, client, server, opensAt, rtt / 2);
    Pipe(server, client, opensAt, rtt / 2);
    up.join();
    close(client);
    close(server);
}

} // namespace

int main(int argc, char** argv) {
    sockaddr_in listenAt{};
    sockaddr_in target{};
    if (argc != 4 || !Parse(argv[1], listenAt) || !Parse(argv[2], target)) {
        std::fprintf(stderr, "usage: bench_relay LISTEN_ADDR:PORT TARGET_ADDR:PORT RTT_MS\n");
        return 2;
    }
    const auto rtt = std::chrono::milliseconds(std::atoi(argv[3]));
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listener, reinterpret_cast<sockaddr*>(&listenAt), sizeof listenAt) != 0 || listen(listener, 64) != 0) {
        std::perror("bench_relay: listen");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (int count = 1;; ++count) {
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        std::printf("connection %d\n", count);
        std::fflush(stdout);
        std::thread(Relay, client, target, rtt).detach();
    }
}
