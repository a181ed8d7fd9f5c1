// Writing the tag record back, with the player stepping aside for the write.
#include "tags/writetag.h"

#include "playback/session.h"
#include "tags/mp3.h"
#include "util/dialogs.h"

void WriteTag(TListeningSession& session, const QString& path) {
    // The audio may move inside the file, so a player reading it lets go first.
    const TListeningSession::TReleasedFile released = session.ReleaseFile(path);
    const int rc = SaveCurrentTag(path);
    // Saved or not, playback goes on as it was before the message is shown.
    session.RestoreFile(released);
    if (rc >= 256)
        ShowMessage(QStringLiteral("Error saving tag info.\n") + SaveFailureCause(path, rc));
}
