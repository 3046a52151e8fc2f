#include "app/diagnostic_window_qt.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>

#include "player/window_icon_qt.h"

bool IsDiagnosticDialogMode(int argc, char** argv) {
    return argc >= 2 && std::strcmp(argv[1], "--diagnostic-dialog") == 0;
}

namespace {

QLabel* Paragraph(const QString& text, const QString& style, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(style);
    return label;
}

void CopyToClipboard(const QString& code) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(code, QClipboard::Clipboard);
    if (clipboard->supportsSelection()) clipboard->setText(code, QClipboard::Selection);
}

// Selects the whole code when the user clicks into it, ready to copy.
class SelectOnClick : public QObject {
public:
    explicit SelectOnClick(QPlainTextEdit* field) : QObject(field), field_(field) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) field_->selectAll();
        return false;
    }

private:
    QPlainTextEdit* field_;
};

} // namespace

std::unique_ptr<QWidget> CreateDiagnosticWindow(const QString& title, const QString& text, const QString& arabic,
                                                const QString& code) {
    auto owned = std::make_unique<QWidget>();
    QWidget& window = *owned;
    window.setWindowIcon(ProductIcon());
    window.setObjectName(QStringLiteral("diagnosticDialog"));
    window.setWindowTitle(title);
    window.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    window.setFixedSize(700, 580);
    window.setStyleSheet(QStringLiteral("QWidget#diagnosticDialog{background:#1a1a2e;}"
                                        "QLabel{font-family:'Segoe UI',Tahoma,sans-serif;}"));

    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(6);
    layout->addWidget(Paragraph(QString::fromUtf8("\u26A0"), QStringLiteral("font-size:48px;color:#eee;"), &window));
    layout->addWidget(Paragraph(title, QStringLiteral("color:#e94560;font-size:18px;font-weight:bold;"), &window));
    layout->addWidget(Paragraph(text, QStringLiteral("color:#ccc;font-size:13px;"), &window));
    QLabel* arabicLabel = Paragraph(arabic, QStringLiteral("color:#ccc;font-size:13px;"), &window);
    arabicLabel->setLayoutDirection(Qt::RightToLeft);
    layout->addWidget(arabicLabel);
    layout->addWidget(Paragraph(QString::fromUtf8("\U0001F512 Diagnostic Code / كود التشخيص"),
                                QStringLiteral("color:#e94560;font-size:12px;margin-top:15px;"), &window));

    auto* field = new QPlainTextEdit(code, &window);
    field->setObjectName(QStringLiteral("diagnosticCode"));
    field->setReadOnly(true);
    field->viewport()->installEventFilter(new SelectOnClick(field));
    field->setFixedHeight(60);
    field->setStyleSheet(QStringLiteral("QPlainTextEdit{font-family:Consolas,monospace;font-size:11px;background:#0f3460;"
                                        "color:#e94560;border:1px solid #e94560;border-radius:4px;padding:8px;}"
                                        "QPlainTextEdit:focus{border:2px solid #fff;}"));
    layout->addWidget(field);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    auto* copy = new QPushButton(QString::fromUtf8("\U0001F4CB Copy Code"), &window);
    copy->setObjectName(QStringLiteral("copyButton"));
    // The focused button has a ring, so the keyboard user sees what Enter presses.
    copy->setStyleSheet(QStringLiteral("QPushButton{padding:8px 24px;background:#e94560;color:#fff;border:2px solid "
                                       "#e94560;border-radius:4px;font-size:13px;}QPushButton:focus{border-color:#fff;}"));
    auto* close = new QPushButton(QStringLiteral("Close"), &window);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setStyleSheet(QStringLiteral("QPushButton{padding:8px 24px;background:#555;color:#fff;border:2px solid "
                                        "#555;border-radius:4px;font-size:13px;}QPushButton:focus{border-color:#fff;}"));
    buttons->addWidget(copy);
    buttons->addWidget(close);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addWidget(Paragraph(QStringLiteral("The code has been copied to your clipboard automatically."),
                                QStringLiteral("color:#888;font-size:11px;margin-top:8px;"), &window));
    layout->addWidget(Paragraph(QStringLiteral("Please send this code to support for assistance."),
                                QStringLiteral("color:#888;font-size:11px;"), &window));
    QLabel* arabicInfo = Paragraph(QString::fromUtf8("تم نسخ الكود تلقائياً. يرجى إرساله للدعم الفني."),
                                   QStringLiteral("color:#888;font-size:11px;"), &window);
    arabicInfo->setLayoutDirection(Qt::RightToLeft);
    layout->addWidget(arabicInfo);

    QObject::connect(copy, &QPushButton::clicked, &window, [field, code] {
        field->selectAll();
        CopyToClipboard(code);
    });
    QObject::connect(close, &QPushButton::clicked, &window, &QWidget::close);
    // As in a dialog box: Esc closes; Enter presses the focused button,
    // which is Close unless the user moved the focus.
    close->setFocus();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, &window, &QWidget::close);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), &window);
        QObject::connect(enter, &QShortcut::activated, &window, [&window, close] {
            auto* focused = qobject_cast<QPushButton*>(window.focusWidget());
            (focused != nullptr ? focused : close)->click();
        });
    }

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        window.move(area.x() + (area.width() - 700) / 2, area.y() + (area.height() - 580) / 2);
    }
    return owned;
}

int RunDiagnosticWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString title = argc > 2 ? QString::fromUtf8(argv[2]) : QString();
    const QString text = argc > 3 ? QString::fromUtf8(argv[3]) : QString();
    const QString arabic = argc > 4 ? QString::fromUtf8(argv[4]) : QString();
    const QString code = argc > 5 ? QString::fromUtf8(argv[5]) : QString();
    const std::unique_ptr<QWidget> window = CreateDiagnosticWindow(title, text, arabic, code);
    window->show();
    CopyToClipboard(code);
    return app.exec();
}
