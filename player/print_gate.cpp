#include "player/print_gate.h"

bool PrintGate::Begin(Clock::time_point now) {
    if (busy_) return false;
    if (cancelledAt_ && now - *cancelledAt_ < kCancelQuiet) return false;
    busy_ = true;
    return true;
}

void PrintGate::Finish(bool cancelledByUser, Clock::time_point now) {
    busy_ = false;
    if (cancelledByUser) cancelledAt_ = now;
}
