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
#include <vector>

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
    // No display name: Qt would add it to every window title the window
    // system shows ("Options — Narrabel"); each window names itself.
    setApplicationName(QStringLiteral("Narrabel"));
    setApplicationVersion(QStringLiteral(NARRABEL_VERSION));
}

void ShowDefaultError(const QString& message) {
    Dlg().Message(QApplication::activeWindow(), AppTitle(), message);
}

namespace {
// One entry per key press being delivered, innermost last: has it been seen yet?
std::vector<bool> keyPressesSeen;
} // namespace

bool FirstSightOfKeyPress() {
    if (keyPressesSeen.empty()) return true;
    if (keyPressesSeen.back()) return false;
    keyPressesSeen.back() = true;
    return true;
}

bool NarrabelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        if (event->type() == QEvent::KeyPress) {
            // A press reaches notify once; Qt hands it on to the parents itself.
            keyPressesSeen.push_back(false);
            struct Pop {
                ~Pop() { keyPressesSeen.pop_back(); }
            } pop;
            return QApplication::notify(receiver, event);
        }
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
