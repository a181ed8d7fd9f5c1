#pragma once
// Every message box, confirmation, input box, file, folder and font dialog goes
// through this one seam, so tests can answer questions instead of a user.

#include <QFont>
#include <QString>
#include <optional>

class QWidget;

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with an OK button.
    virtual void Message(QWidget* parent, const QString& title, const QString& text) = 0;
    // A Yes/No confirmation; true means Yes.
    virtual bool Confirm(QWidget* parent, const QString& title, const QString& text) = 0;
    // An input box; nothing when cancelled.
    virtual std::optional<QString> Input(QWidget* parent, const QString& title,
                                         const QString& prompt, const QString& initial) = 0;
    // An open-file dialog. filter uses "Description|pattern;pattern|..." pairs;
    // filterIndex counts from 1. Nothing when cancelled.
    virtual std::optional<QString> OpenFile(QWidget* parent, const QString& title,
                                            const QString& folder, const QString& filter,
                                            int filterIndex) = 0;
    // A folder chooser; nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget* parent, const QString& title,
                                                const QString& folder) = 0;
    // A font dialog limited to maxPointSize; nothing when cancelled.
    virtual std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial,
                                            int maxPointSize) = 0;
};

// The seam in use. Defaults to the Qt dialogs; tests install their own.
Dialogs& Dlg();
// Installs a replacement (not owned); nullptr restores the Qt dialogs.
void InstallDialogs(Dialogs* dialogs);

// The program's own message box title.
inline QString AppTitle() {
    return QStringLiteral("Narrabel");
}
inline void ShowMessage(const QString& text) {
    Dlg().Message(nullptr, AppTitle(), text);
}
inline bool AskYesNo(const QString& text) {
    return Dlg().Confirm(nullptr, AppTitle(), text);
}

// Converts "Desc|*.a;*.b|Desc2|*.*" into Qt's ";;"-separated name filters.
QStringList ToQtNameFilters(const QString& filter);
