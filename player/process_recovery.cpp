#include "player/process_recovery.h"

#include "diagnostics/diagnostic_code.h"
#include "diagnostics/diagnostic_dialog.h"

ProcessRecovery::Decision ProcessRecovery::OnFailure(Clock::time_point now) {
    const std::optional<Clock::time_point> previous = lastFailure_;
    lastFailure_ = now;
    if (previous && now - *previous < kBound) return Decision::GiveUp;
    return Decision::Reload;
}

void ReportContentFailed(const std::string& reason) {
    DiagnosticDialog(ContentFailedNotice::kCaption, ContentFailedNotice::kEnglish, ContentFailedNotice::kArabic,
                     ErrorDiagnosticCode(reason));
}
