#pragma once

#include <QString>

#include <string>
#include <string_view>

// Text between the Qt-free cores (std::string) and the widgets (QString). Names, messages and
// paths are UTF-8; bytes shown as they are (a firmware's channel names, search patterns, hex
// fields) are Latin-1, one character per byte, so every byte value survives the way back.
namespace corvex::widgets {

[[nodiscard]] inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

[[nodiscard]] inline std::string std8(const QString& text) {
    return text.toUtf8().toStdString();
}

[[nodiscard]] inline QString qsLatin1(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

[[nodiscard]] inline std::string stdLatin1(const QString& text) {
    return text.toLatin1().toStdString();
}

} // namespace corvex::widgets
