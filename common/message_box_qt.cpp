#include "common/message_box_qt.h"
#include "common/qt_text.h"

#include <QApplication>
#include <QMessageBox>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <cstdlib>

namespace {


// Declining is the safe answer when nobody can be asked.
MessageAnswer DefaultAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::OkCancel: return MessageAnswer::Cancel;
    case MessageButtons::Ok: break;
    }
    return MessageAnswer::Ok;
}

// A label lays a plain text out in the box's direction, so the Arabic half
// of a bilingual message would start at the left. As rich text every line
// gets its own direction (right-to-left lines to the right), and the text is
// escaped, so it still shows as written.
std::optional<QString> LinesWithTheirDirection(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (std::none_of(lines.begin(), lines.end(), [](const QString& l) { return l.isRightToLeft(); }))
        return std::nullopt;
    QString html;
    for (const QString& line : lines) {
        html += line.isRightToLeft() ? QStringLiteral("<div dir=\"rtl\" align=\"right\" style=\"white-space:pre-wrap\">")
                                     : QStringLiteral("<div dir=\"ltr\" style=\"white-space:pre-wrap\">");
        html += line.isEmpty() ? QStringLiteral("&nbsp;") : line.toHtmlEscaped();
        html += QStringLiteral("</div>");
    }
    return html;
}

} // namespace

bool DisplayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

MessageAnswer ShowMessageBox(const WString& givenText, const WString& givenCaption, MessageIcon icon,
                             MessageButtons buttons, bool rightToLeft, QWidget* owner) {
    // Whatever a caller passes on, it is shown as text: no markup, no
    // control characters (also not to a terminal), and never taller than a screen.
    const WString text = DisplayText(givenText);
    const WString caption = DisplayText(givenCaption, 200, 1);
    const std::string line = WideToUtf8(caption) + ": " + WideToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr || !DisplayAvailable()) {
        return DefaultAnswer(buttons);
    }

    QMessageBox box(owner);
    box.setWindowTitle(ToQString(caption));
    if (const std::optional<QString> html = LinesWithTheirDirection(ToQString(text))) {
        box.setTextFormat(Qt::RichText);
        box.setText(*html);
    } else {
        box.setTextFormat(Qt::PlainText);
        box.setText(ToQString(text));
    }
    switch (icon) {
    case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (buttons) {
    case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    }
    if (rightToLeft) box.setLayoutDirection(Qt::RightToLeft);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setObjectName(QStringLiteral("tovaniMessageBox"));
    box.show();
    box.raise();
    box.activateWindow();
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    case QMessageBox::Ok: return MessageAnswer::Ok;
    default: return DefaultAnswer(buttons);
    }
}
