#include "app/runtime_probe_qt.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QLibraryInfo>
#include <QProcess>

#include "common/message_box_qt.h"

QString BrowserHelperPath() {
    const QString configured = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (!configured.isEmpty()) return configured;
    return QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/QtWebEngineProcess");
}

namespace {

// The helper as it is on disk now: an upgrade or a replacement changes it.
QByteArray HelperIdentity(const QFileInfo& info) {
    return (info.canonicalFilePath() + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n') +
            QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('\n'))
        .toUtf8();
}

QString ProvenHelperRecord() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/Tovani/browser-runtime");
}

} // namespace

bool BrowserRuntimePresent() {
    const QString path = BrowserHelperPath();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isExecutable()) return false;
    // A helper proven to start is not started again on every launch (it
    // costs a process start per launch) until the file itself changes.
    const QByteArray identity = HelperIdentity(info);
    const QString record = ProvenHelperRecord();
    if (!record.isEmpty()) {
        QFile proven(record);
        if (proven.open(QIODevice::ReadOnly) && proven.readAll() == identity) return true;
    }
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
    const bool started = helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0 &&
                         helper.readAll().contains("QtWebEngineProcess");
    if (started && !record.isEmpty()) {
        QDir().mkpath(QFileInfo(record).absolutePath());
        QSaveFile proven(record);
        if (proven.open(QIODevice::WriteOnly)) {
            proven.write(identity);
            proven.commit();
        }
    }
    return started;
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
