#pragma once
// Every message box, confirmation, input box, file, folder and font dialog goes
// through this one seam, so that code below the windows can ask questions and
// tests can answer them instead of a user. Nothing here names a widget: the
// windows install the real dialogs at start, placed over the active window.

#include <QString>
#include <QStringList>
#include <optional>

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with an OK button.
    virtual void Message(const QString& title, const QString& text) = 0;
    // A Yes/No confirmation; true means Yes.
    virtual bool Confirm(const QString& title, const QString& text) = 0;
    // An input box; nothing when cancelled.
    virtual std::optional<QString> Input(const QString& title, const QString& prompt,
                                         const QString& initial) = 0;
    // An open-file dialog. filter uses "Description|pattern;pattern|..." pairs;
    // filterIndex counts from 1. Nothing when cancelled.
    virtual std::optional<QString> OpenFile(const QString& title, const QString& folder,
                                            const QString& filter, int filterIndex) = 0;
    // A folder chooser; nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(const QString& title, const QString& folder) = 0;
    // A font dialog limited to maxPointSize. Fonts travel as QFont::toString()
    // descriptions, so that this seam needs no graphics library. Nothing when cancelled.
    virtual std::optional<QString> ChooseFont(const QString& initial, int maxPointSize) = 0;
    // Opens a path with the program the desktop associates with it; the outcome
    // is not checked. Nothing happens by default (tests, tools).
    virtual void OpenPath(const QString& path);
};

// The seam in use: the installed dialogs, or ones that answer No and cancel to
// every question when none are installed (tools without a display).
Dialogs& Dlg();
// Installs dialogs (not owned); nullptr goes back to the silent ones.
void InstallDialogs(Dialogs* dialogs);

// The program's own message box title.
inline QString AppTitle() {
    return QStringLiteral("Narrabel");
}
inline void ShowMessage(const QString& text) {
    Dlg().Message(AppTitle(), text);
}
inline bool AskYesNo(const QString& text) {
    return Dlg().Confirm(AppTitle(), text);
}
// The default error box: an error that ended a command, or a failure the
// command goes on after (a damaged options file).
inline void ShowDefaultError(const QString& message) {
    Dlg().Message(AppTitle(), message);
}
// Opens a path with the desktop's program for it (through the seam).
inline void ShellOpen(const QString& path) {
    Dlg().OpenPath(path);
}
