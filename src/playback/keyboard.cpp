// Keyboard shortcuts, go-to-offset, the timed exit and the About box.

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "diag/tfrmabout.h"
#include "diag/tfrmdebug.h"
#include "playback/mediaplayer.h"

#include <QComboBox>
#include <QFileInfo>
#include <QTimer>

void TfrmMain::FormKeyDown(int key) {
    switch (key) {
    case Qt::Key_Delete:
        if (TreeFocused) mnuDelBMClick();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (TreeFocused) tvDblClick();
        break;
    case Qt::Key_Insert:
        cmdBookmarkClick();
        break;
    case Qt::Key_F1:
        frmDebug->show();
        frmDebug->raise();
        break;
    default:
        break;
    }
}

void TfrmMain::tvEnter() {
    TreeFocused = true;
}

void TfrmMain::tvExit() {
    TreeFocused = false;
}

void TfrmMain::mnuGoOffsetClick() {
    const QString file = cmbFile->currentText();
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        ShowMessage(QStringLiteral("Please open a valid media file."));
        return;
    }
    const int32_t length = mp->Length();
    std::optional<QString> answer =
        Dlg().Input(this, QStringLiteral("Seek Offset"),
                    QStringLiteral("0 - ") + QString::number(length), QString());
    if (!answer) return;
    const int64_t value = ParseLooseInt(*answer);
    if (value >= 0 && value <= length)
        PlayFrom(int32_t(value));
    else
        ShowMessage(*answer + QStringLiteral(" is not a valid value."));
}

void TfrmMain::TimedExitTick() {
    if (ParamRec.PlaySeconds <= 0) return;
    --ExitCountdown;
    setWindowTitle(QStringLiteral("Narrabel - exiting in %1 seconds...").arg(ExitCountdown));
    if (ExitCountdown == 0) {
        Closing = true;
        // Close after this tick's handler has returned, through the normal close path.
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TfrmMain::cmdAboutClick() {
    frmAbout->exec();
}
