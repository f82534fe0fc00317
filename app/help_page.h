#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace corvex::app {

/// Where the help page is looked for, first match wins: beside the program (its path plus
/// ".HTM"), then `shareDirs` in order.
[[nodiscard]] QString findHelpPage(const QString& programPath, const QStringList& shareDirs);

/// The installed documentation folders (share/doc/corvex) for this program: the one relative to the
/// program's folder (an install moved as a whole) and the one it was configured for.
[[nodiscard]] QStringList helpShareDirs(const QString& programPath);

/// Opens the help page in the desktop's browser; when it is missing or cannot be opened, says
/// so in a message box over `parent`.
void openHelpPage(QWidget* parent);

} // namespace corvex::app
