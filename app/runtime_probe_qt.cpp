#include "app/runtime_probe_qt.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>

#include "app/message_box_qt.h"

QString BrowserHelperPath() {
    const QString configured = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (!configured.isEmpty()) return configured;
    return QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/QtWebEngineProcess");
}

bool BrowserRuntimePresent() {
    const QString path = BrowserHelperPath();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isExecutable()) return false;
    // Started without arguments the helper prints its name and version and
    // ends: that proves its libraries load.
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(path, {});
    if (!helper.waitForFinished(15000)) {
        helper.kill();
        helper.waitForFinished(1000);
        return false;
    }
    return helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0 &&
           helper.readAll().contains("QtWebEngineProcess");
}

bool EnsureBrowserRuntime() {
    if (BrowserRuntimePresent()) return true;
    ShowMessageBox(Utf8ToWide("The Qt WebEngine browser runtime is missing or cannot start.\n"
                              "Install it with: sudo apt-get install libqt6webenginecore6-bin\n"
                              "متصفح Qt WebEngine غير مثبت أو لا يمكن تشغيله.\n"
                              "قم بتثبيته باستخدام: sudo apt-get install libqt6webenginecore6-bin"),
                   Utf8ToWide("Kelbro — Component Required"), MessageIcon::Error, MessageButtons::Ok);
    return false;
}
