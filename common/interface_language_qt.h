#pragma once
// The language of the Linux player's own window words (the printer dialog's,
// Qt's standard buttons): the user's locale decides, at run time.
#include <QString>

// True when the user's messages language (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG, as Qt reads them) is Arabic.
bool ArabicInterface();

// Loads Qt's own translations ("qtbase") for the user's language, once the
// application exists: the standard buttons of message boxes and dialogs
// then speak it, and a right-to-left language lays the windows out so.
void InstallQtTranslations();

// One line of mixed text kept in its own direction where a label lays it out
// in another: wrapped in directional isolates, at display time only.
QString IsolatedLine(const QString& line);
