#include "service/transfer_pump.h"

namespace {
std::mutex gPumpLock;
TransferPump gPump;
} // namespace

void SetTransferPump(TransferPump pump) {
    std::lock_guard<std::mutex> guard(gPumpLock);
    gPump = std::move(pump);
}

TransferPump CurrentTransferPump() {
    std::lock_guard<std::mutex> guard(gPumpLock);
    return gPump;
}
