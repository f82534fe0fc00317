#pragma once

#include "mainwin/restore_model.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace corvex::mainwin {

// What the dialog asks of the window.
struct RestoreDialogHooks {
    std::function<bool()> compare;          // a "PFW" of the chosen backup; false: not submitted
    std::function<bool()> jobRunning;       // the Guard is still at a job
    std::function<std::string()> differing; // the areas the last compare found different
    std::function<std::string()> refusal;   // why the chosen backup may not go back; empty: it may
};

// Flash > "Restore Backup ..." and Eeprom > "Restore Backup ...": the backups of the kind,
// newest first; the chosen one can be compared with the receiver (flash) and is restored on
// "Restore". The decisions are RestoreModel's and the window's; this is their widgets.
class RestoreBackupDialog : public QDialog {
    Q_OBJECT

public:
    RestoreBackupDialog(RestoreModel& model, RestoreDialogHooks hooks, QWidget* parent = nullptr);

    [[nodiscard]] QTreeWidget& list() { return *m_list; }
    [[nodiscard]] QPushButton& compareButton() { return *m_compare; }
    [[nodiscard]] QPushButton& restoreButton() { return *m_restore; }
    [[nodiscard]] QString statusText() const;

private:
    void chosen();
    void startCompare();
    void watchCompare();

    RestoreModel& m_model;
    RestoreDialogHooks m_hooks;
    QTreeWidget* m_list = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_compare = nullptr;
    QPushButton* m_restore = nullptr;
    QTimer m_watch; // while a compare runs: the Guard's end of it
};

} // namespace corvex::mainwin
