#include "diagnostics/diagnostic_dialog.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

void TakeDiagnosticTurn() {
    // Never released and never destroyed: the process ends while it is held.
    static std::timed_mutex* turn = new std::timed_mutex();
    static std::atomic<std::thread::id> holder{};
    // A dialog's own box may run something that ends in a dialog again.
    if (holder.load() == std::this_thread::get_id()) return;
    if (turn->try_lock_for(std::chrono::seconds(5))) holder = std::this_thread::get_id();
}

WString DiagnosticFallbackText(const WString& text, const WString& arabicText, const std::string& code) {
    return text + u"\n\n" + arabicText + u"\n\nDiagnostic Code:\n" + WidenAscii(code);
}
