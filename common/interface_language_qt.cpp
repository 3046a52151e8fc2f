#include "common/interface_language_qt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool ArabicInterface() {
    const QStringList languages = QLocale::system().uiLanguages();
    return !languages.isEmpty() && QLocale(languages.constFirst()).language() == QLocale::Arabic;
}

void InstallQtTranslations() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    auto* translator = new QTranslator(app);
    if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

QString IsolatedLine(const QString& line) {
    // FIRST STRONG ISOLATE ... POP DIRECTIONAL ISOLATE: the line takes the
    // direction of its own first letter, whatever surrounds it.
    return QChar(0x2068) + line + QChar(0x2069);
}
