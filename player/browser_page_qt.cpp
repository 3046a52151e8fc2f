#include "player/browser_page_qt.h"

#include <QEventLoop>
#include <QInputDialog>
#include <QMessageBox>
#include <QWebEngineView>

#include "common/app_constants.h"
#include "common/text.h"

namespace WebView {

namespace {

QString PageText(const QString& message) {
    return QString::fromStdU16String(DisplayText(message.toStdU16String()));
}

QMessageBox* PageMessageBox(QWidget* parent, const QString& message, QMessageBox::StandardButtons buttons) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("tovaniPageDialog"));
    box->setWindowTitle(QString::fromStdU16String(ApplicationConstants.productName));
    box->setTextFormat(Qt::PlainText);
    box->setText(PageText(message));
    box->setStandardButtons(buttons);
    return box;
}

} // namespace

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

bool BrowserPage::IsBrowserCommand(WebAction action) {
    switch (action) {
    case Back:
    case Forward:
    case Reload:
    case ReloadAndBypassCache:
    case SavePage:
    case ViewSource:
    case InspectElement:
    case DownloadLinkToDisk:
    case DownloadImageToDisk:
    case DownloadMediaToDisk:
    case OpenLinkInNewWindow:
    case OpenLinkInNewTab:
    case OpenLinkInNewBackgroundTab:
        return true;
    default:
        return false;
    }
}

void BrowserPage::TriggerHostAction(WebAction action) {
    hostAction_ = true;
    QWebEnginePage::triggerAction(action);
    hostAction_ = false;
}

void BrowserPage::triggerAction(WebAction action, bool checked) {
    // Keyboard shortcuts (F5, Ctrl+R, Alt+Left, ...) arrive here too.
    if (production_ && !hostAction_ && IsBrowserCommand(action)) return;
    QWebEnginePage::triggerAction(action, checked);
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (!onNavigationRequest) return true;
    return onNavigationRequest(url, type, isMainFrame);
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType) {
    // newWindowRequested follows and carries the address; the host loads it here.
    return nullptr;
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int line,
                                           const QString& source) {
    if (onConsoleMessage) onConsoleMessage(message, line, source);
}

std::optional<int> BrowserPage::RunDialog(QDialog* dialog) {
    if (dismissed_) {
        delete dialog;
        return std::nullopt;
    }
    // Not modal: a modal dialog would make the window refuse its close request.
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    QEventLoop loop;
    int answer = QDialog::Rejected;
    QObject::connect(dialog, &QDialog::finished, &loop, [&](int result) {
        answer = result;
        loop.quit();
    });
    // The window may go (and take the dialog with it) while the page waits.
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    ++dialogDepth_;
    openDialog_ = dialog;
    dialog->show();
    loop.exec();
    --dialogDepth_;
    if (openDialog_) {
        openDialog_->hide();
        openDialog_->deleteLater();
    }
    openDialog_.clear();
    if (dismissed_) return std::nullopt;
    return answer;
}

void BrowserPage::DismissDialogs() {
    dismissed_ = true;
    if (openDialog_) openDialog_->reject();
}

void BrowserPage::javaScriptAlert(const QUrl&, const QString& message) {
    if (dismissed_) return;
    QWebEngineView* view = QWebEngineView::forPage(this);
    QMessageBox* box = PageMessageBox(view ? view->window() : nullptr, message, QMessageBox::Ok);
    RunDialog(box);
}

bool BrowserPage::javaScriptConfirm(const QUrl&, const QString& message) {
    if (dismissed_) return false;
    QWebEngineView* view = QWebEngineView::forPage(this);
    // A message box finishes with the button pressed.
    return RunDialog(PageMessageBox(view ? view->window() : nullptr, message, QMessageBox::Ok | QMessageBox::Cancel)) ==
           QMessageBox::Ok;
}

bool BrowserPage::javaScriptPrompt(const QUrl&, const QString& message, const QString& defaultValue, QString* result) {
    if (dismissed_) return false;
    QWebEngineView* view = QWebEngineView::forPage(this);
    auto* dialog = new QInputDialog(view ? view->window() : nullptr);
    dialog->setObjectName(QStringLiteral("tovaniPageDialog"));
    dialog->setWindowTitle(QString::fromStdU16String(ApplicationConstants.productName));
    dialog->setLabelText(PageText(message));
    dialog->setTextValue(defaultValue);
    QPointer<QInputDialog> guard(dialog);
    const bool accepted = RunDialog(dialog) == QDialog::Accepted;
    if (accepted && guard && result != nullptr) *result = guard->textValue();
    return accepted;
}

} // namespace WebView
