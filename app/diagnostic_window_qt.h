#pragma once
// The diagnostic dialog's own process: title, both texts, the code in a
// read-only field, Copy and Close; 700 x 580, centred; the code is put on the
// clipboard at once and stays there while this process lives.
#include <QString>
#include <QWidget>

#include <memory>

// The window, built and placed but not shown.
std::unique_ptr<QWidget> CreateDiagnosticWindow(const QString& title, const QString& text, const QString& arabic,
                                                const QString& code);

// argv: program, "--diagnostic-dialog", title, text, Arabic text, code.
int RunDiagnosticWindow(int argc, char** argv);
bool IsDiagnosticDialogMode(int argc, char** argv);
