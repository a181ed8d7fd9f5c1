#include "app/application.h"

#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "bookmarks/tfrmbm.h"
#include "bookmarks/tfrmimport.h"
#include "bookmarks/tfrmmissing.h"
#include "diag/tfrmabout.h"
#include "diag/tfrmdebug.h"
#include "playback/tfrmoptions.h"
#include "rename/tfrmpreview.h"
#include "rename/tfrmrename.h"
#include "tags/tfrmedit.h"
#include "tags/tfrmfill.h"
#include "util/errors.h"

#include <exception>

TfrmMain* frmMain = nullptr;
TfrmBM* frmBM = nullptr;
TfrmEdit* frmEdit = nullptr;
TfrmImport* frmImport = nullptr;
TfrmMissing* frmMissing = nullptr;
TfrmAbout* frmAbout = nullptr;
TfrmDebug* frmDebug = nullptr;
TfrmFill* frmFill = nullptr;
TfrmOptions* frmOptions = nullptr;
TfrmRename* frmRename = nullptr;
TfrmPreview* frmPreview = nullptr;

NarrabelApplication::NarrabelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Narrabel"));
    setApplicationDisplayName(QStringLiteral("Narrabel"));
    setApplicationVersion(QStringLiteral(NARRABEL_VERSION));
}

void ShowDefaultError(const QString& message) {
    Dlg().Message(QApplication::activeWindow(), AppTitle(), message);
}

bool NarrabelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowDefaultError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowDefaultError(QStringLiteral("Unknown error"));
    }
    return false;
}

QStringList& WindowCreationLog() {
    static QStringList log;
    return log;
}

void CreateWindows(const QStringList& args) {
    WindowCreationLog().clear();
    frmMain = new TfrmMain(args);
    frmBM = new TfrmBM(frmMain);
    frmEdit = new TfrmEdit(frmMain);
    frmImport = new TfrmImport(frmMain);
    frmMissing = new TfrmMissing(frmMain);
    frmAbout = new TfrmAbout(frmMain);
    frmDebug = new TfrmDebug(frmMain);
    frmFill = new TfrmFill(frmMain);
    frmOptions = new TfrmOptions(frmMain);
    frmRename = new TfrmRename(frmMain);
    frmPreview = new TfrmPreview(frmMain);
}

void DestroyWindows() {
    // The dialogs are children of the main window and go with it.
    delete frmMain;
    frmMain = nullptr;
    frmBM = nullptr;
    frmEdit = nullptr;
    frmImport = nullptr;
    frmMissing = nullptr;
    frmAbout = nullptr;
    frmDebug = nullptr;
    frmFill = nullptr;
    frmOptions = nullptr;
    frmRename = nullptr;
    frmPreview = nullptr;
}
