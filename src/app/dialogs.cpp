#include "app/dialogs.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace {

class QtDialogs : public Dialogs {
public:
    void Message(QWidget* parent, const QString& title, const QString& text) override {
        QMessageBox::information(parent, title, text);
    }
    bool Confirm(QWidget* parent, const QString& title, const QString& text) override {
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::Yes) == QMessageBox::Yes;
    }
    std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& initial) override {
        bool ok = false;
        QString s = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
        if (!ok) return std::nullopt;
        return s;
    }
    std::optional<QString> OpenFile(QWidget* parent, const QString& title, const QString& folder,
                                    const QString& filter, int filterIndex) override {
        QFileDialog dlg(parent, title, folder);
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
    std::optional<QString> ChooseFolder(QWidget* parent, const QString& title,
                                        const QString& folder) override {
        QString s = QFileDialog::getExistingDirectory(parent, title, folder);
        if (s.isEmpty()) return std::nullopt;
        return s;
    }
    std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial,
                                    int maxPointSize) override {
        QFontDialog dlg(initial, parent);
        dlg.setOption(QFontDialog::DontUseNativeDialog);
        // Qt's dialog has no size limit of its own: refuse larger sizes on accept.
        for (;;) {
            if (dlg.exec() != QDialog::Accepted) return std::nullopt;
            QFont f = dlg.selectedFont();
            if (f.pointSize() <= maxPointSize) return f;
            QMessageBox::warning(
                parent, AppTitle(),
                QStringLiteral("Size must be between 1 and %1.").arg(maxPointSize));
        }
    }
};

QtDialogs& qtDialogs() {
    static QtDialogs d;
    return d;
}

Dialogs* installed = nullptr;

} // namespace

Dialogs& Dlg() {
    return installed ? *installed : qtDialogs();
}

void InstallDialogs(Dialogs* dialogs) {
    installed = dialogs;
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
