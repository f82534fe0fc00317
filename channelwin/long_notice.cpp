#include "channelwin/long_notice.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QVBoxLayout>

namespace corvex::channelwin {

void longNotice(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                const QString& text) {
    QDialog box(parent);
    box.setWindowTitle(title);
    auto* column = new QVBoxLayout(&box);
    auto* row = new QHBoxLayout;
    auto* picture = new QLabel(&box);
    // The pictures QMessageBox itself shows.
    const QStyle::StandardPixmap kind =
        icon == QMessageBox::Critical  ? QStyle::SP_MessageBoxCritical
        : icon == QMessageBox::Warning ? QStyle::SP_MessageBoxWarning
                                       : QStyle::SP_MessageBoxInformation;
    const int pxIcon = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    picture->setPixmap(box.style()->standardIcon(kind, nullptr, &box).pixmap(pxIcon, pxIcon));
    row->addWidget(picture, 0, Qt::AlignTop);
    auto* view = new QPlainTextEdit(text, &box);
    view->setReadOnly(true);
    view->setFixedSize(460, 360);
    row->addWidget(view);
    column->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    column->addWidget(buttons);
    box.exec();
}

} // namespace corvex::channelwin
