// Writing the tag record back, with the player stepping aside for the write.
#include "tags/writetag.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "playback/mediaplayer.h"
#include "tags/mp3.h"

void WriteTag(const QString& path) {
    int32_t position = 0;
    TMediaPlayer* mp = frmMain ? frmMain->mp : nullptr;
    // The audio may move inside the file, so a player reading it lets go first.
    if (mp && mp->Mode() == TMediaPlayer::mpPlaying && mp->FileName() == path) {
        position = mp->Position();
        mp->Close();
    }
    if (SaveCurrentTag(path) >= 256) {
        ShowMessage(SaveFailureMessage());
        return;
    }
    if (position != 0) frmMain->PlayFrom(position);
}
