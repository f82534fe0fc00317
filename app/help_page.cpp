#include "help_page.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace corvex::app {

namespace {

const QString kHelpFile = QStringLiteral("corvex.HTM");

} // namespace

QString findHelpPage(const QString& programPath, const QStringList& shareDirs) {
    const QString beside = programPath + QStringLiteral(".HTM");
    if (QFileInfo(beside).isFile()) {
        return beside;
    }
    for (const QString& dir : shareDirs) {
        const QString installed = QDir(dir).filePath(kHelpFile);
        if (QFileInfo(installed).isFile()) {
            return installed;
        }
    }
    return beside; // the name the error message gives
}

QStringList helpShareDirs(const QString& programPath) {
    const QDir programDir = QFileInfo(programPath).absoluteDir();
    return {QDir::cleanPath(programDir.filePath(QStringLiteral("../" CORVEX_DOCDIR))),
            QStringLiteral(CORVEX_FULL_DOCDIR)};
}

void openHelpPage(QWidget* parent) {
    const QString program = QCoreApplication::applicationFilePath();
    const QString page = findHelpPage(program, helpShareDirs(program));
    // A missing page is refused here: the desktop's opener would report success and then fail
    // where the user never sees it.
    if (!QFileInfo(page).isFile() || !QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
        QMessageBox::critical(parent, QStringLiteral("Fout"),
                              QStringLiteral("Error opening ") + page);
    }
}

} // namespace corvex::app
