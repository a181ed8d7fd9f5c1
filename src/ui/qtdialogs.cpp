#include "ui/qtdialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

QWidget* placement() {
    return QApplication::activeWindow();
}

} // namespace

void QtDialogs::Message(const QString& title, const QString& text) {
    QMessageBox::information(placement(), title, text);
}

bool QtDialogs::Confirm(const QString& title, const QString& text) {
    return QMessageBox::question(placement(), title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::Input(const QString& title, const QString& prompt,
                                        const QString& initial) {
    bool ok = false;
    QString s = QInputDialog::getText(placement(), title, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return s;
}

std::optional<QString> QtDialogs::OpenFile(const QString& title, const QString& folder,
                                           const QString& filter, int filterIndex) {
    QFileDialog dlg(placement(), title, folder);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::ReadOnly, false);
    // Each type shows its own text; the patterns Qt reads from the end of
    // each entry are not shown a second time.
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    const QStringList filters = ToQtNameFilters(filter);
    dlg.setNameFilters(filters);
    if (filterIndex >= 1 && filterIndex <= filters.size())
        dlg.selectNameFilter(filters[filterIndex - 1]);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().first();
}

std::optional<QString> QtDialogs::ChooseFolder(const QString& title, const QString& folder) {
    QString s = QFileDialog::getExistingDirectory(placement(), title, folder);
    if (s.isEmpty()) return std::nullopt;
    return s;
}

std::optional<QString> QtDialogs::ChooseFont(const QString& initial, int maxPointSize) {
    QFont start;
    start.fromString(initial);
    QFontDialog dlg(start, placement());
    dlg.setOption(QFontDialog::DontUseNativeDialog);
    // Qt's dialog has no size limit of its own: refuse larger sizes on accept.
    for (;;) {
        if (dlg.exec() != QDialog::Accepted) return std::nullopt;
        QFont f = dlg.selectedFont();
        if (f.pointSize() <= maxPointSize) return f.toString();
        QMessageBox::warning(placement(), AppTitle(),
                             QStringLiteral("Size must be between 1 and %1.").arg(maxPointSize));
    }
}

void QtDialogs::OpenPath(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QStringList ToQtNameFilters(const QString& filter) {
    QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        // "*.*" meant every file where it was designed; here it would skip names without a dot.
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(' '));
    }
    return out;
}
