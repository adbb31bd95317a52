#pragma once

#include <QString>

#include "core/ICWString.h"

// The application's UTF-16 strings and Qt's, both ways.
inline QString ToQString(const ICWString& text) {
    const std::u16string_view view = text.GetView();
    return QString::fromUtf16(view.data(), qsizetype(view.size()));
}

inline ICWString ToICWString(const QString& text) {
    return ICWString(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size())));
}
