#pragma once
// The player's own printer choice: a small dark modal dialog laid out in the
// classic dialog units of the Windows player.
#include <QDialog>

#include <vector>

#include "player/printer_list.h"

class QListWidget;
class QPushButton;

class PrinterChoiceDialog : public QDialog {
    Q_OBJECT
public:
    PrinterChoiceDialog(std::vector<PrinterInfo> printers, QWidget* owner);
    // The chosen printer after exec() returned Accepted; empty otherwise.
    WString selectedName() const { return choice_.Chosen(); }

private:
    void Confirm();
    void reject() override;
    void showEvent(QShowEvent* event) override;

    PrinterChoice choice_;
    QListWidget* list_ = nullptr;
    QPushButton* print_ = nullptr;
};
