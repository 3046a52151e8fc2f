#pragma once
// The program's text and Qt's are both UTF-16: one copy, no conversion.
#include <QString>

#include "common/text.h"

inline QString ToQString(const WString& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline WString FromQString(const QString& text) {
    return WString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}
