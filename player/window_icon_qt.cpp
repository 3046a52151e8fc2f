#include "player/window_icon_qt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/app_constants.h"

namespace {

const char* const kIconResource = ":/tovani/icon.png";

} // namespace

QIcon ProductIcon() {
    // The image lives in a static library: register its resource explicitly.
    Q_INIT_RESOURCE(tovani);
    return QIcon(QString::fromLatin1(kIconResource));
}

void InstallProductIcon() {
    Q_INIT_RESOURCE(tovani);
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty()) return;
    const QString name = QString::fromStdU16String(ToLowerCopy(ApplicationConstants.productName));
    const QString target = dataHome + QStringLiteral("/icons/hicolor/256x256/apps/") + name + QStringLiteral(".png");
    QFile source(QString::fromLatin1(kIconResource));
    if (QFileInfo(target).size() == source.size()) return;
    QDir().mkpath(QFileInfo(target).absolutePath());
    // Through a temporary name, so a reader never sees half an image.
    const QString temporary = target + QStringLiteral(".tmp");
    QFile::remove(temporary);
    if (!source.copy(temporary)) return;
    QFile::setPermissions(temporary, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    QFile::remove(target);
    QFile::rename(temporary, target);
}
