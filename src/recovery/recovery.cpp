#include "recovery/recovery.h"

#include "bookmarks/bookmark.h"
#include "bookmarks/storejournal.h"
#include "playback/places.h"
#include "playback/session.h"
#include "rename/massrename.h"
#include "tags/id3v2/savejournal.h"
#include "util/journal.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

QString Quoted(const QString& path) {
    return QLatin1Char('"') + ExtractFileName(path) + QLatin1Char('"');
}

void SayTag(const id3v2::TTagRecovery& r, QStringList& said) {
    using id3v2::TTagRecovery;
    switch (r.Result) {
    case TTagRecovery::Restored:
        said << QStringLiteral("the tag of %1 was put back as it was before its save was cut "
                               "short")
                    .arg(Quoted(r.File));
        break;
    case TTagRecovery::Abandoned:
        said << QStringLiteral("the cut-short save of %1 was undone").arg(Quoted(r.File));
        break;
    case TTagRecovery::Failed:
        said << QStringLiteral("the tag of %1 could not be put back yet (%2)")
                    .arg(Quoted(r.File), r.Error);
        break;
    default:
        break;
    }
}

QString Line(const QStringList& said) {
    if (said.isEmpty()) return {};
    return QStringLiteral("Recovered after an interruption: ") + said.join(QStringLiteral("; ")) +
           QLatin1Char('.');
}

} // namespace

QString RecoverWrites(const QString& dataFolder) {
    if (dataFolder.isEmpty()) return {};
    const QString folder =
        dataFolder.endsWith(QLatin1Char('/')) ? dataFolder : dataFolder + QLatin1Char('/');
    id3v2::SetJournalFolder(folder);
    const QString store = folder + StoreFileName();
    QStringList said;

    // A run that ended without its close (killed, crashed, a power cut) left
    // its places log: its last place becomes the resume point, and the log
    // goes into the places file. Before the rename is finished, which then
    // moves both to the file's new name.
    TPlaces places(folder + PlacesFileName());
    if (QFileInfo::exists(places.LogPath())) {
        places.Load();
        if (places.LastLogged) {
            TSuperStringList rsm;
            rsm << places.LastLogged->Path
                << QString::number(
                       TListeningSession::ResumePositionFor(places.LastLogged->Position));
            rsm.SaveToFile(folder + QStringLiteral("Narrabel.rsm"));
        }
        places.SaveAtClose();
    }

    QString error;
    switch (RecoverStore(store, &error)) {
    case TStoreRecovery::RolledBack:
        said << QStringLiteral("the bookmarks were put back as they were before a change that "
                               "was cut short (the tree is built again)");
        break;
    case TStoreRecovery::Failed:
        said << QStringLiteral("the bookmarks could not be put back yet (%1)").arg(error);
        break;
    default:
        break;
    }
    // After the store, so that the repointing works on a store in order.
    const TRenameRecovery renamed = RecoverRename(store);
    if (renamed.Result == TRenameRecovery::Finished)
        said << QStringLiteral("the bookmarks of %1 now point at %2, its new name")
                    .arg(Quoted(renamed.OldPath), Quoted(renamed.NewPath));
    else if (renamed.Result == TRenameRecovery::Failed)
        said << QStringLiteral("the bookmarks of %1 could not follow its new name yet (%2)")
                    .arg(Quoted(renamed.OldPath), renamed.Error);
    SayTag(id3v2::RecoverTagJournal(id3v2::FolderJournalPath(folder)), said);

    // Temporary files of the program's own naming that a run left behind: the
    // compaction's copy, and the data files' replacements not yet renamed.
    static const QRegularExpression leftover(QStringLiteral(
        "^(!\\.tmp|Narrabel\\.(nbm|tv|map|rsm|hst|tvs|nbh|opt|edt|ini|places|places-log|import)"
        "\\.[A-Za-z0-9]{6})$"));
    int removed = 0;
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QString& name : names)
        if (leftover.match(name).hasMatch() && QFile::remove(folder + name)) ++removed;
    if (removed) {
        SyncFolder(folder);
        said << (removed == 1
                     ? QStringLiteral("1 leftover temporary file was removed")
                     : QStringLiteral("%1 leftover temporary files were removed").arg(removed));
    }
    return Line(said);
}

QString RecoverFile(const QString& path, const QString& dataFolder) {
    QStringList said;
    SayTag(id3v2::RecoverTagJournal(id3v2::SideJournalPath(path)), said);
    if (!dataFolder.isEmpty())
        SayTag(id3v2::RecoverTagJournal(id3v2::FolderJournalPath(dataFolder), path), said);
    return Line(said);
}
