#pragma once

// A message too tall for a message box: a load of a damaged table lists up to twenty warnings of
// five lines each, and a QMessageBox grows with its text until its buttons leave the screen.

#include <QMessageBox>
#include <QString>

class QWidget;

namespace corvex::channelwin {

/// Lines a message box shows whole; a longer text goes into longNotice.
inline constexpr int kMaxBoxLines = 24;

/// A modal box titled `title` with `icon`, the text in a scrolling read-only view of a fixed
/// size, and OK.
void longNotice(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text);

} // namespace corvex::channelwin
