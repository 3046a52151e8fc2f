#include "player/printer_dialog_qt.h"
#include "common/qt_text.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "common/interface_language_qt.h"

namespace {

// The dialog's own words in Arabic, for an Arabic session; the English ones
// are the shared texts.
namespace Arabic {
constexpr char16_t kTitle[] = u"🖨 اختيار الطابعة";
constexpr char16_t kLabel[] = u"اختر الطابعة التي تُطبع عليها هذه الصفحة:";
constexpr char16_t kPrintButton[] = u"🖶  طباعة";
constexpr char16_t kCancelButton[] = u"إلغاء";
constexpr char16_t kStateIdle[] = u"  (جاهزة)";
constexpr char16_t kStatePrinting[] = u"  (تطبع الآن)";
constexpr char16_t kStateStopped[] = u"  (متوقفة)";
} // namespace Arabic

struct DialogWords {
    const char16_t* title;
    const char16_t* label;
    const char16_t* print;
    const char16_t* cancel;
};

DialogWords WordsFor(bool arabic) {
    if (arabic) return {Arabic::kTitle, Arabic::kLabel, Arabic::kPrintButton, Arabic::kCancelButton};
    return {PrinterDialog::kTitle, PrinterDialog::kLabel, PrinterDialog::kPrintButton, PrinterDialog::kCancelButton};
}

// A list line in Arabic: the printer's own name kept in its direction inside
// the right-to-left line, then the mark and the state.
QString ArabicLineText(const PrinterInfo& printer) {
    QString line = IsolatedLine(ToQString(printer.name));
    if (printer.isDefault) line += ToQString(PrinterDialog::kDefaultMark);
    switch (printer.state) {
    case PrinterState::Unknown: break;
    case PrinterState::Idle: line += ToQString(Arabic::kStateIdle); break;
    case PrinterState::Printing: line += ToQString(Arabic::kStatePrinting); break;
    case PrinterState::Stopped: line += ToQString(Arabic::kStateStopped); break;
    }
    return line;
}


QString Rgb(const DialogColour& c) { return QStringLiteral("rgb(%1,%2,%3)").arg(c.red).arg(c.green).arg(c.blue); }

// Dialog units of the dialog font: a quarter of the average character width
// horizontally, an eighth of the character height vertically.
struct DialogUnits {
    double x;
    double y;
    // Right to left, the layout is mirrored within the dialog's 260 units.
    bool mirrored = false;
    QRect Rect(int left, int top, int width, int height) const {
        if (mirrored) left = 260 - left - width;
        return QRect(qRound(left * x), qRound(top * y), qRound(width * x), qRound(height * y));
    }
};

} // namespace

PrinterChoiceDialog::PrinterChoiceDialog(std::vector<PrinterInfo> printers, QWidget* owner)
    : QDialog(owner), choice_(std::move(printers)) {
    setObjectName(QStringLiteral("printerChoiceDialog"));
    const bool arabic = ArabicInterface();
    const DialogWords words = WordsFor(arabic);
    if (arabic) setLayoutDirection(Qt::RightToLeft);
    setWindowTitle(ToQString(words.title));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    QFont font(QStringLiteral("Segoe UI"));
    font.setPointSize(10);
    setFont(font);
    const QFontMetrics metrics(font);
    const DialogUnits du{metrics.averageCharWidth() / 4.0, metrics.height() / 8.0,
                         layoutDirection() == Qt::RightToLeft};
    setFixedSize(du.Rect(0, 0, 260, 200).size());

    setStyleSheet(QStringLiteral("QDialog{background:%1;}"
                                 "QLabel{color:%2;background:%3;}"
                                 "QListWidget{color:%4;background:%5;}"
                                 // Where the keyboard is must show: the list and the buttons get a ring.
                                 "QListWidget:focus{border:2px solid palette(highlight);}"
                                 "QPushButton{padding:2px 8px;border:1px solid palette(mid);border-radius:3px;"
                                 "background:palette(button);color:palette(button-text);}"
                                 "QPushButton:default{border-color:palette(dark);}"
                                 "QPushButton:focus{border:2px solid palette(highlight);}")
                      .arg(Rgb(PrinterDialog::kBackground), Rgb(PrinterDialog::kLabelText),
                           Rgb(PrinterDialog::kLabelBackground), Rgb(PrinterDialog::kListText),
                           Rgb(PrinterDialog::kListBackground)));

    auto* label = new QLabel(ToQString(words.label), this);
    label->setObjectName(QStringLiteral("printerLabel"));
    label->setGeometry(du.Rect(10, 8, 240, 14));

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("printerList"));
    list_->setGeometry(du.Rect(10, 24, 240, 130));
    // A screen reader names the list by its label.
    label->setBuddy(list_);
    list_->setAccessibleName(label->text());
    print_ = new QPushButton(ToQString(words.print), this);
    print_->setObjectName(QStringLiteral("printButton"));
    print_->setGeometry(du.Rect(100, 162, 70, 22));
    print_->setDefault(true);
    auto* cancel = new QPushButton(ToQString(words.cancel), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(du.Rect(180, 162, 70, 22));

    if (!choice_.HasChoices()) {
        // Nothing to choose: only the label and Cancel remain.
        list_->hide();
        print_->hide();
        cancel->setDefault(true);
    } else {
        for (const PrinterInfo& printer : choice_.printers()) {
            if (!arabic) {
                list_->addItem(ToQString(PrinterLineText(printer)));
                continue;
            }
            auto* item = new QListWidgetItem(ArabicLineText(printer), list_);
            // Read out without the layout's marks.
            item->setData(Qt::AccessibleTextRole, item->text().remove(QChar(0x2068)).remove(QChar(0x2069)));
        }
        list_->setCurrentRow(choice_.InitialRow());
        // The keyboard starts on the list: arrows choose, Enter prints, Esc cancels.
        list_->setFocus();
    }

    connect(print_, &QPushButton::clicked, this, &PrinterChoiceDialog::Confirm);
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Confirm(); });
    connect(cancel, &QPushButton::clicked, this, &PrinterChoiceDialog::reject);

    if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void PrinterChoiceDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The keyboard goes with the dialog, also where no window manager hands it over.
    raise();
    activateWindow();
}

void PrinterChoiceDialog::Confirm() {
    if (choice_.Choose(list_->currentRow())) accept();
}

void PrinterChoiceDialog::reject() {
    choice_.Cancel();
    QDialog::reject();
}
