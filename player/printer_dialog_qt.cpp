#include "player/printer_dialog_qt.h"
#include "common/qt_text.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

namespace {


QString Rgb(const DialogColour& c) { return QStringLiteral("rgb(%1,%2,%3)").arg(c.red).arg(c.green).arg(c.blue); }

// Dialog units of the dialog font: a quarter of the average character width
// horizontally, an eighth of the character height vertically.
struct DialogUnits {
    double x;
    double y;
    QRect Rect(int left, int top, int width, int height) const {
        return QRect(qRound(left * x), qRound(top * y), qRound(width * x), qRound(height * y));
    }
};

} // namespace

PrinterChoiceDialog::PrinterChoiceDialog(std::vector<PrinterInfo> printers, QWidget* owner)
    : QDialog(owner), choice_(std::move(printers)) {
    setObjectName(QStringLiteral("printerChoiceDialog"));
    setWindowTitle(ToQString(PrinterDialog::kTitle));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    QFont font(QStringLiteral("Segoe UI"));
    font.setPointSize(10);
    setFont(font);
    const QFontMetrics metrics(font);
    const DialogUnits du{metrics.averageCharWidth() / 4.0, metrics.height() / 8.0};
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

    auto* label = new QLabel(ToQString(PrinterDialog::kLabel), this);
    label->setObjectName(QStringLiteral("printerLabel"));
    label->setGeometry(du.Rect(10, 8, 240, 14));

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("printerList"));
    list_->setGeometry(du.Rect(10, 24, 240, 130));
    print_ = new QPushButton(ToQString(PrinterDialog::kPrintButton), this);
    print_->setObjectName(QStringLiteral("printButton"));
    print_->setGeometry(du.Rect(100, 162, 70, 22));
    print_->setDefault(true);
    auto* cancel = new QPushButton(ToQString(PrinterDialog::kCancelButton), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(du.Rect(180, 162, 70, 22));

    if (!choice_.HasChoices()) {
        // Nothing to choose: only the label and Cancel remain.
        list_->hide();
        print_->hide();
        cancel->setDefault(true);
    } else {
        for (const PrinterInfo& printer : choice_.printers()) list_->addItem(ToQString(PrinterLineText(printer)));
        list_->setCurrentRow(choice_.InitialRow());
    }

    connect(print_, &QPushButton::clicked, this, &PrinterChoiceDialog::Confirm);
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Confirm(); });
    connect(cancel, &QPushButton::clicked, this, &PrinterChoiceDialog::reject);

    if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void PrinterChoiceDialog::Confirm() {
    if (choice_.Choose(list_->currentRow())) accept();
}

void PrinterChoiceDialog::reject() {
    choice_.Cancel();
    QDialog::reject();
}
