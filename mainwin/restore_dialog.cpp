#include "mainwin/restore_dialog.h"

#include "widgets/qt_text.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace corvex::mainwin {

using widgets::qs;

namespace {

constexpr int kWatchMs = 100;

} // namespace

RestoreBackupDialog::RestoreBackupDialog(RestoreModel& model, RestoreDialogHooks hooks,
                                         QWidget* parent)
    : QDialog(parent), m_model(model), m_hooks(std::move(hooks)) {
    setWindowTitle(qs(model.isFlash() ? kRestoreFlashTitle : kRestoreEepromTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Backups in %1, newest first:").arg(qs(model.folder())), this));

    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(RestoreModel::kColumns);
    QStringList headers;
    for (const std::string_view header : RestoreModel::headers()) {
        headers << qs(header);
    }
    m_list->setHeaderLabels(headers);
    for (const RestoreModel::Row& row : model.rows()) {
        auto* item = new QTreeWidgetItem(QStringList{qs(row.date), qs(row.chip), qs(row.receiver),
                                                     qs(row.firmware), qs(row.size)});
        item->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
        m_list->addTopLevelItem(item);
    }
    for (int column = 0; column < RestoreModel::kColumns; ++column) {
        m_list->resizeColumnToContents(column);
    }
    m_list->setMinimumSize(620, 220);
    layout->addWidget(m_list);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    auto* buttons = new QDialogButtonBox(this);
    m_compare = buttons->addButton(tr("&Compare"), QDialogButtonBox::ActionRole);
    m_compare->setToolTip(tr("Set every area to PGM and show which areas differ from the backup."));
    m_compare->setVisible(model.isFlash());
    m_restore = buttons->addButton(tr("&Restore"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_compare, &QPushButton::clicked, this, &RestoreBackupDialog::startCompare);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &RestoreBackupDialog::chosen);
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &RestoreBackupDialog::watchCompare);

    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    } else {
        chosen();
        m_status->setText(qs(kNoBackups) + qs(model.folder()));
    }
}

QString RestoreBackupDialog::statusText() const {
    return m_status->text();
}

void RestoreBackupDialog::chosen() {
    m_model.choose(m_list->indexOfTopLevelItem(m_list->currentItem()));
    const std::string refusal = m_hooks.refusal ? m_hooks.refusal() : std::string();
    const bool usable = m_model.chosenBackup() != nullptr && refusal.empty();
    m_status->setText(qs(refusal));
    m_restore->setEnabled(usable && !m_watch.isActive());
    m_compare->setEnabled(usable && !m_watch.isActive());
}

void RestoreBackupDialog::startCompare() {
    if (!m_hooks.compare || !m_hooks.compare()) {
        return;
    }
    m_status->setText(tr("Comparing the backup with the receiver ..."));
    m_compare->setEnabled(false);
    m_restore->setEnabled(false);
    m_list->setEnabled(false);
    m_watch.start();
}

void RestoreBackupDialog::watchCompare() {
    if (m_hooks.jobRunning && m_hooks.jobRunning()) {
        return;
    }
    m_watch.stop();
    m_list->setEnabled(true);
    chosen();
    if (m_status->text().isEmpty() && m_hooks.differing) {
        m_status->setText(qs(m_hooks.differing()));
    }
}

} // namespace corvex::mainwin
