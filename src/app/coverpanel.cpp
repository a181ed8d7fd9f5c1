// The cover of the book playing, beside the bookmark tree: it follows the file
// the player has open (a new file, play on into the next one, a rename) and
// goes when nothing is open.

#include "app/tfrmmain.h"
#include "playback/bookcover.h"
#include "playback/session.h"
#include "ui/coverview.h"

void TfrmMain::SetUpCover() {
    // Looked at once the command that opened a file is done, not in its middle.
    const auto later = [this] {
        QMetaObject::invokeMethod(
            this, [this] { showCover(); }, Qt::QueuedConnection);
    };
    connect(&session, &TListeningSession::StatusChanged, this, [later](int panel) {
        if (panel == 2) later();
    });
    connect(&session, &TListeningSession::PlayerShownChanged, this, later);
    connect(session.mp, &TPlayerDevice::MovedOn, this, later);
    connect(session.mp, &TPlayerDevice::LengthKnown, this, later);
}

void TfrmMain::showCover() {
    const QString file = session.mp->IsOpen() ? session.mp->FileName() : QString();
    if (file == coverFile) return;
    coverFile = file;
    // The bytes are read here (bounded); the view decodes them off this thread.
    imgCover->ShowImage(file.isEmpty() ? QByteArray() : CoverOf(file).Bytes);
}
