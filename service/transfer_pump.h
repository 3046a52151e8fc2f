#pragma once
// Lets a user interface keep running while its thread waits on the network:
// when applies() is true on the calling thread, the wait runs on a thread of
// its own and pumpOnce() is called until it is done. After kSlowWaitMs of one
// wait, slowWait(true) is called once (the interface says that it is
// connecting), and slowWait(false) when that wait ends.
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <utility>

struct TransferPump {
    std::function<bool()> applies;
    std::function<void()> pumpOnce;
    std::function<void(bool)> slowWait;
};
void SetTransferPump(TransferPump pump);
TransferPump CurrentTransferPump();

inline constexpr int kSlowWaitMs = 2000;

// Runs work() on the calling thread, or on a thread of its own under the pump.
template <class Work>
auto RunPumped(Work work) -> decltype(work()) {
    const TransferPump pump = CurrentTransferPump();
    if (!pump.applies || !pump.pumpOnce || !pump.applies()) return work();
    auto waiting = std::async(std::launch::async, std::move(work));
    const auto slowAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSlowWaitMs);
    bool told = false;
    while (waiting.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
        if (!told && pump.slowWait && std::chrono::steady_clock::now() >= slowAt) {
            told = true;
            pump.slowWait(true);
        }
        pump.pumpOnce();
    }
    if (told) pump.slowWait(false);
    return waiting.get();
}
