#pragma once

#include <QApplication>
#include <QStringList>

// Catches errors that no handler caught and shows them in one message box, so
// that a failed command ends but the program goes on.
class NarrabelApplication : public QApplication {
public:
    NarrabelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the default error box for an error that ended a command.
void ShowDefaultError(const QString& message);

// True the first time it is asked during the delivery of one key press (which
// passes from the focused control to each of its parents until one takes it),
// false after that. A press delivered meanwhile (a dialog's loop) has its own.
bool FirstSightOfKeyPress();

class TfrmMain;
class TfrmBM;
class TfrmEdit;
class TfrmImport;
class TfrmMissing;
class TfrmAbout;
class TfrmDebug;
class TfrmFill;
class TfrmOptions;
class TfrmRename;
class TfrmPreview;

// The program's windows, created once by CreateWindows and alive until
// DestroyWindows.
extern TfrmMain* frmMain;
extern TfrmBM* frmBM;
extern TfrmEdit* frmEdit;
extern TfrmImport* frmImport;
extern TfrmMissing* frmMissing;
extern TfrmAbout* frmAbout;
extern TfrmDebug* frmDebug;
extern TfrmFill* frmFill;
extern TfrmOptions* frmOptions;
extern TfrmRename* frmRename;
extern TfrmPreview* frmPreview;

// Creates every window in the designed order; args are the command-line
// parameters after the program name.
void CreateWindows(const QStringList& args);
void DestroyWindows();
// Class names of the windows in the order they were created (for diagnostics).
QStringList& WindowCreationLog();
