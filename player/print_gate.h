#pragma once
// Which of a page's print requests the player takes: one print at a time
// (its printer dialog open, or its job not yet reported back), and none in
// the first seconds after the user cancelled one, so that a page asking for
// print again and again cannot keep the dialog in the user's face.
#include <chrono>
#include <optional>

class PrintGate {
public:
    using Clock = std::chrono::steady_clock;
    // How long after a cancel the page's requests are ignored.
    static constexpr std::chrono::milliseconds kCancelQuiet{3000};

    // True when this request may show the printer dialog; the print is then
    // under way until Finish.
    bool Begin(Clock::time_point now = Clock::now());
    // The print is over: the user cancelled it (the quiet time starts), or
    // it went its way to an outcome.
    void Finish(bool cancelledByUser, Clock::time_point now = Clock::now());
    bool Busy() const { return busy_; }

private:
    bool busy_ = false;
    std::optional<Clock::time_point> cancelledAt_;
};
