#pragma once

// The small pictures of the channel list editor, painted in code: the channel category marks,
// the favourite, parental-block, active and inactive marks, the two transponder decorations and
// the control panel's buttons.

#include <QIcon>
#include <QPixmap>

namespace corvex::channelwin {

enum class EditorIcon {
    Video,
    Audio,
    SidOnly,
    PcrOnly,
    Favourite,
    Parental,
    Active,
    Inactive,
    Dish,
    Signal,
    Load,
    Write,
    Search,
    Expand,
    Collapse,
    Advanced,
    Align,
    ClearAll,
};

/// A 16 by 16 picture, painted once.
[[nodiscard]] const QPixmap& editorPixmap(EditorIcon icon);
/// The category mark of a channel (1 to 4); null for 0 and anything else.
[[nodiscard]] const QPixmap* categoryPixmap(int category);

} // namespace corvex::channelwin
