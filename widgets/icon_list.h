#pragma once

#include <QIcon>
#include <QPixmap>

namespace corvex::widgets {

/// Whether the icon list has a picture for `number`; the numbers without one draw nothing.
[[nodiscard]] bool hasIcon(int number);
/// Icon `number` drawn `pxSize` pixels square; a null pixmap when the list has no such icon.
/// Drawn once per number and size, then kept.
[[nodiscard]] QPixmap iconPixmap(int number, int pxSize = 16);
/// The map's mode button in `state` (0 up, 2 the area's mode, 3 held down), 50 x 20 pixels.
[[nodiscard]] QPixmap modeButtonPixmap(int state);
/// A toolbar picture by name ("signature", "read", "write-ee", "break", ...), for normal and
/// disabled use; an empty icon when there is no such picture.
[[nodiscard]] QIcon toolbarIcon(const QString& name);
/// The program's own icon, for windows and the desktop entry.
[[nodiscard]] QIcon programIcon();

} // namespace corvex::widgets
