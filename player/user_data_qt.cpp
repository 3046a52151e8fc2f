#include "player/user_data_qt.h"

#include <QDir>
#include <QStandardPaths>

#include "common/app_constants.h"

namespace WebView {

WString UserDataFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString parent = base + QLatin1Char('/') + QString::fromStdU16String(ApplicationConstants.productName);
    QDir().mkpath(parent);
    return (parent + QStringLiteral("/WebView2Data")).toStdU16String();
}

} // namespace WebView
