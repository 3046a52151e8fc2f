// The Linux player: tovani [LINK]
#include <QApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/diagnostic_window_qt.h"
#include "common/message_box_qt.h"
#include "app/startup_shell_qt.h"
#include "app/usage.h"
#include "common/app_constants.h"
#include "common/interface_language_qt.h"
#include "diagnostics/diagnostic_dialog.h"
#include "player/browser_environment_qt.h"
#include "player/pdf_watermark_process_qt.h"
#include "player/window_icon_qt.h"

int main(int argc, char** argv) {
    std::vector<WString> args;
    WString rawTail;
    for (int i = 0; i < argc; ++i) {
        args.push_back(Utf8ToWide(argv[i]));
        if (i > 0) rawTail += (i > 1 ? u" " : u"") + args.back();
    }
    // The print's watermarking, in a process the player started and bounds.
    if (IsWatermarkMode(argc, argv)) return RunWatermarkProcess(argc, argv);
    // Help and version touch nothing: no display, no browser, no service.
    if (const std::optional<std::string> text = InformationRequest(args)) {
        std::fwrite(text->data(), 1, text->size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // Without a display the windows render off screen and every message goes
    // to standard error, so the program still ends as it would have. A
    // display that is named but cannot be opened ends the start here: Qt
    // would abort on it.
    std::string noDisplay;
    if (!WebView::ChooseWindowSystem(noDisplay)) {
        const std::string line = WideToUtf8(ApplicationConstants.productName) + " - Startup Error: " + noDisplay + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        return 1;
    }
    if (IsDiagnosticDialogMode(argc, argv)) return RunDiagnosticWindow(argc, argv);

    WebView::PrepareBrowserProcessEnvironment();
    QApplication app(argc, argv);
    WebView::ForgetProcessOnlySettings();
    // Qt's own words (a message box's buttons) in the user's language.
    InstallQtTranslations();
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ProductIcon());

    SetDiagnosticFallback([](const WString& caption, const WString& text) {
        const auto show = [&] { ShowMessageBox(text, caption, MessageIcon::Error, MessageButtons::Ok); };
        // A pin failure in browser traffic reports from a thread of its own;
        // widgets live on the user-interface thread only.
        if (QThread::currentThread() == qApp->thread()) show();
        else QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
    });
    QtStartupShell shell;
    return RunStartup(shell, args, rawTail);
}
