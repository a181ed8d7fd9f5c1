// Writing a file's tag, with the player stepping aside for the write.
#include "tags/writetag.h"

#include "playback/session.h"
#include "tags/filetags.h"
#include "tags/mp3.h"
#include "util/dialogs.h"

namespace {

template <typename Save> bool Saving(TListeningSession& session, const QString& path, Save save) {
    // The audio may move inside the file, or the file be replaced by a new
    // copy, so a player reading it lets go first.
    const TListeningSession::TReleasedFile released = session.ReleaseFile(path);
    const TTagSaveResult r = save();
    // Saved or not, playback goes on as it was before the message is shown.
    session.RestoreFile(released);
    if (!r.Ok()) ShowMessage(QStringLiteral("Error saving tag info.\n") + r.Cause);
    return r.Ok();
}

} // namespace

bool WriteTag(TListeningSession& session, const TFileTag& tag) {
    if (!tag.Changed()) return true; // nothing to write: the player is left alone
    return Saving(session, tag.Path, [&] { return SaveFileTag(tag); });
}

void WriteTag(TListeningSession& session, const QString& path) {
    Saving(session, path, [&] {
        TTagSaveResult r;
        r.Code = SaveCurrentTag(path);
        if (!r.Ok()) r.Cause = SaveFailureCause(path, r.Code);
        return r;
    });
}
