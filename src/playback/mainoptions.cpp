// Loading and saving the options with the main window.

#include "app/application.h"
#include "app/tfrmmain.h"
#include "playback/optionsfile.h"
#include "playback/tfrmoptions.h"

#include <QTreeWidget>

void TfrmMain::LoadOptions() {
    if (!frmOptions) return;
    if (!DataFolder.isEmpty()) {
        TOptionsFile options = frmOptions->Options();
        QString error;
        if (LoadOptionsFile(DataFolder + OptionsFileName(), options, &error))
            frmOptions->SetOptions(options);
        else
            // A damaged file costs the saved options, not the rest of start-up.
            ShowDefaultError(error);
    }
    tv->setFont(frmOptions->PanelFont());
}

void TfrmMain::SaveOptions() {
    if (!frmOptions || DataFolder.isEmpty()) return;
    QString error;
    if (!SaveOptionsFile(DataFolder + OptionsFileName(), frmOptions->Options(), &error))
        ShowDefaultError(error);
}

void TfrmMain::cmdOptionsClick() {
    if (!frmOptions) return;
    frmOptions->show();
    frmOptions->raise();
    frmOptions->activateWindow();
}
