#include "util/shellopen.h"

#include <QDesktopServices>
#include <QUrl>

void ShellOpen(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
