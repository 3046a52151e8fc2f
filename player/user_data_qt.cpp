#include "player/user_data_qt.h"

#include <QDir>
#include <QStandardPaths>

#include "player/user_data.h"

namespace WebView {

WString UserDataFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    const WString local = base.toStdU16String();
    QDir().mkpath(QString::fromStdU16String(UserDataParent(local, u'/')));
    return UserDataFolderUnder(local, u'/');
}

} // namespace WebView
