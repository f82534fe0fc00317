#pragma once

namespace corvex::widgets {

// A tool window that may hold work the user has not saved. The close button and Exit may ask
// about it; a signal (a logout, a closed terminal, a kill) must not wait on a question. Before it
// closes for a signal, the main window asks each such window to keep its work for the next open.
class UnsavedWork {
public:
    virtual ~UnsavedWork() = default;

    /// Keeps any unsaved work as a recovery file in the user's data folder, to be offered at the
    /// next open of the same file, and lets the next close pass without a question. Runs on the
    /// window's thread; must not open a box or wait for anything but the disk.
    virtual void keepForRecovery() = 0;
};

} // namespace corvex::widgets
