#include "rename/massrename.h"

#include "bookmarks/bookmark.h"
#include "playback/bmhistory.h"
#include "playback/places.h"
#include "util/errors.h"
#include "util/journal.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

TRenameat2Fn renameat2Fn = nullptr;

int CallRenameat2(const char* from, const char* to) {
    if (renameat2Fn) return renameat2Fn(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

// link() fails when the target exists, so the new name is claimed atomically.
TRenameStatus LinkAndUnlink(const char* from, const char* to) {
    if (::link(from, to) != 0)
        return errno == EEXIST ? TRenameStatus::TargetExists : TRenameStatus::Failed;
    if (::unlink(from) != 0) {
        const int saved = errno;
        ::unlink(to);
        errno = saved;
        return TRenameStatus::Failed;
    }
    return TRenameStatus::Ok;
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// "*.mp3" and the other audio-book files, in any letter case.
QStringList NameFilters() {
    QStringList filters{QStringLiteral("*.mp3")};
    for (const QString& ext : BookExtensions())
        filters << QStringLiteral("*.") + ext;
    return filters;
}

struct Walker {
    const TNamePattern& pattern;
    const QString& ext;
    const TMassRenameWalk& hooks;
    std::vector<TRenameAction> rows;
    QSet<QString> targets;

    void Walk(const QString& folder) {
        if (hooks.Stop && hooks.Stop()) return;
        if (hooks.Status) hooks.Status(folder);

        QDir dir(folder);
        const QStringList subs =
            dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
        for (const QString& name : subs)
            Walk(JoinPath(folder, name));

        // Regular files only: a FIFO or device named *.mp3 would hang the tag read.
        QDir fileDir(folder);
        fileDir.setNameFilters(NameFilters());
        fileDir.setFilter(QDir::Files | QDir::NoDotAndDotDot);
        fileDir.setSorting(QDir::Unsorted);
        const QStringList files = fileDir.entryList();
        for (const QString& name : files) {
            const QString full = JoinPath(folder, name);
            if (hooks.Status) hooks.Status(name);
            TRenameAction row;
            row.OldPath = full;
            const TNameSource source = hooks.ReadTag(full);
            // An MP3 takes the pattern's extension; any other book keeps its own.
            const QString own = name.mid(name.lastIndexOf(QLatin1Char('.')) + 1);
            const bool mp3 = own.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0;
            row.NewName = ComposeName(source.Tag, pattern, mp3 ? ext : own);
            const QString newPath = row.NewPath();
            if (full.toLower() == newPath.toLower()) continue;
            if (UsesCutShortField(pattern, source.CutShort)) {
                row.TagCutShort = true;
                row.Checked = false;
            }
            if (!IsAllowedFileName(row.NewName))
                row.SkipReason = QStringLiteral("illegal name");
            else if (targets.contains(newPath) || PathTaken(newPath))
                row.SkipReason = QStringLiteral("NewName exists");
            else if (TooLongForBookmarks(full, newPath, hooks.HasBookmarks))
                row.SkipReason = kTooLongForBookmarks;
            targets.insert(newPath);
            rows.push_back(row);
            if (hooks.Found) hooks.Found(rows.back());
        }
    }
};

const QLatin1String kCrLf("\r\n");

// A name as the log shows it: control characters escaped, so that a line feed
// in a name cannot start a line of its own.
QString LogText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0x7F) {
            out += c;
        } else if (u == '\n') {
            out += QLatin1String("\\n");
        } else if (u == '\r') {
            out += QLatin1String("\\r");
        } else if (u == '\t') {
            out += QLatin1String("\\t");
        } else {
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

QString TimeText(const QDateTime& t) {
    return QLocale::c().toString(t.time(), QStringLiteral("HH:mm:ss.zzz"));
}

// Day and month names from the user's locale, digits as they are everywhere.
QString LongDateText(const QDate& d) {
    const QLocale loc = QLocale::system();
    return loc.dayName(d.dayOfWeek(), QLocale::LongFormat) + QStringLiteral(", ") +
           loc.monthName(d.month(), QLocale::LongFormat) + QLatin1Char(' ') +
           QString::number(d.day()) + QStringLiteral(", ") + QString::number(d.year());
}

// Creates the file only if nothing has its name; tries numbered names after that.
bool SaveNew(const QString& folder, const QString& name, const QByteArray& text, QString* used) {
    const QString stem = name.left(name.size() - 4); // without ".txt"
    for (int n = 1; n < 1000; ++n) {
        const QString path = folder + (n == 1 ? name : stem + QStringLiteral("_%1.txt").arg(n));
        *used = path;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (PathTaken(path)) continue;
            return false;
        }
        if (f.write(text) != text.size() || !f.flush()) {
            f.close();
            f.remove(); // a partial log would pass for a complete one
            return false;
        }
        return true;
    }
    return false;
}

} // namespace

const QString kTooLongForBookmarks = QStringLiteral("new path too long for its bookmarks");

bool TooLongForBookmarks(const QString& oldPath, const QString& newPath,
                         const std::function<bool(const QString&)>& hasBookmarks) {
    // Bookmarks cut at the store's capacity would point at nothing.
    return oldPath != newPath && !PathFitsStore(newPath) && hasBookmarks && hasBookmarks(oldPath);
}

void SetRenameat2ForTest(TRenameat2Fn fn) {
    renameat2Fn = fn;
}

bool PathTaken(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

TRenameStatus RenameNoReplace(const QString& oldPath, const QString& newPath) {
    if (ExtractFilePath(newPath) != ExtractFilePath(oldPath) ||
        !IsAllowedFileName(ExtractFileName(newPath)) ||
        !IsAllowedFileName(ExtractFileName(oldPath)))
        return TRenameStatus::IllegalName;
    const QByteArray from = QFile::encodeName(oldPath);
    const QByteArray to = QFile::encodeName(newPath);
    if (oldPath == newPath) return PathTaken(oldPath) ? TRenameStatus::Ok : TRenameStatus::Failed;
    if (CallRenameat2(from.constData(), to.constData()) == 0) return TRenameStatus::Ok;
    switch (errno) {
    case EEXIST:
        return TRenameStatus::TargetExists;
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
        return LinkAndUnlink(from.constData(), to.constData());
    default:
        return TRenameStatus::Failed;
    }
}

QString RenameJournalPath(const QString& storePath) {
    return FolderOf(storePath) + QStringLiteral("/Narrabel.ren-journal");
}

namespace {

constexpr char kRenameKind = 'N';

// Lines equal to oldPath (or, for the resume point, its first line) take newPath.
void FollowInList(const QString& file, const QString& oldPath, const QString& newPath,
                  bool firstOnly) {
    TSuperStringList lines;
    if (!QFile::exists(file) || !lines.LoadFromFile(file)) return;
    bool changed = false;
    for (int i = 0; i < (firstOnly ? std::min<int>(1, lines.size()) : lines.size()); ++i)
        if (lines[i] == oldPath) {
            lines[i] = newPath;
            changed = true;
        }
    if (changed) lines.SaveToFile(file);
}

} // namespace

TRenameStatus RenameAndRepoint(
    const QString& storePath, const QString& oldPath, const QString& newPath,
    const std::function<void(const QString& oldPath, const QString& newPath)>& followRename) {
    TJournalWriter intent;
    if (!storePath.isEmpty() && oldPath != newPath && HasLiveBookmarks(storePath, oldPath)) {
        const QString journal = RenameJournalPath(storePath);
        // One left behind is finished (or dropped) first: there is room for one.
        if (QFileInfo::exists(journal)) RecoverRename(storePath);
        QByteArray payload;
        PutBytes(payload, oldPath.toUtf8());
        PutBytes(payload, newPath.toUtf8());
        if (!intent.Begin(journal, kRenameKind, payload)) return TRenameStatus::Failed;
    }
    const TRenameStatus status = RenameNoReplace(oldPath, newPath);
    if (status != TRenameStatus::Ok || oldPath == newPath) {
        intent.End();
        return status;
    }
    // The new name lasts before the bookmarks name it.
    SyncFolder(FolderOf(newPath));
    try {
        if (followRename) {
            followRename(oldPath, newPath);
        } else {
            QString error;
            if (RepointBookmarks(storePath, oldPath, newPath, {}, &error) < 0)
                throw NarrabelError(error);
        }
    } catch (...) {
        // Reported to the user by the caller; the next start does not retry.
        intent.End();
        throw;
    }
    intent.End();
    return TRenameStatus::Ok;
}

TRenameRecovery RecoverRename(const QString& storePath) {
    TRenameRecovery r;
    TJournalReader journal;
    switch (journal.Open(RenameJournalPath(storePath))) {
    case TJournalReader::None:
        return r;
    case TJournalReader::Busy:
        r.Result = TRenameRecovery::Busy;
        return r;
    case TJournalReader::Torn:
        journal.Remove(); // never whole, so the rename was never tried
        r.Result = TRenameRecovery::Dropped;
        return r;
    case TJournalReader::Valid:
        break;
    }
    TPayloadReader p{journal.Payload};
    r.OldPath = QString::fromUtf8(p.Bytes());
    r.NewPath = QString::fromUtf8(p.Bytes());
    r.Result = TRenameRecovery::Dropped;
    if (journal.Kind == kRenameKind && p.ok && !r.OldPath.isEmpty() && !r.NewPath.isEmpty() &&
        PathTaken(r.NewPath) && !PathTaken(r.OldPath)) {
        QString error;
        if (RepointBookmarks(storePath, r.OldPath, r.NewPath, {}, &error) < 0) {
            r.Result = TRenameRecovery::Failed;
            r.Error = error;
            return r; // the journal stays for the next start
        }
        const QString folder = FolderOf(storePath) + QLatin1Char('/');
        FollowInList(folder + QStringLiteral("Narrabel.rsm"), r.OldPath, r.NewPath, true);
        FollowInList(folder + QStringLiteral("Narrabel.hst"), r.OldPath, r.NewPath, false);
        FollowInList(folder + QStringLiteral("Narrabel.edt"), r.OldPath, r.NewPath, false);
        TPlaces::FollowRenameInFile(folder + PlacesFileName(), r.OldPath, r.NewPath);
        const QString nbh = folder + QStringLiteral("Narrabel.nbh");
        if (QFile::exists(nbh)) {
            TBMHistory history(nbh);
            if (history.FollowRename(r.OldPath, r.NewPath)) history.Save();
            history.Path.clear(); // saved above when it changed
        }
        r.Result = TRenameRecovery::Finished;
    }
    journal.Remove();
    return r;
}

QString TRenameAction::NewPath() const {
    return ExtractFilePath(OldPath) + NewName;
}

std::vector<TRenameAction> PlanMassRename(const QString& root, const TNamePattern& pattern,
                                          const QString& ext, const TMassRenameWalk& walk) {
    Walker w{pattern, ext, walk, {}, {}};
    if (!root.isEmpty()) w.Walk(root);
    return std::move(w.rows);
}

QString MassRenameLogName(const QDateTime& when) {
    return QStringLiteral("MassRenameLog_") +
           QLocale::c().toString(when, QStringLiteral("yyyyMMdd-HHmm")) + QStringLiteral(".txt");
}

TMassRenameLog ApplyMassRename(std::vector<TRenameAction>& rows, const QString& dataFolder,
                               const TMassRenameApply& apply) {
    auto now = [&] { return apply.Now ? apply.Now() : QDateTime::currentDateTime(); };
    const QDateTime started = now();

    QStringList lines;
    lines << QStringLiteral("Narrabel - Mass Rename Log - ") + LongDateText(started.date());
    lines << QStringLiteral("Started : ") + TimeText(started) + kCrLf;
    QString lastFolder;
    bool anyFolder = false;

    for (size_t i = 0; i < rows.size(); ++i) {
        TRenameAction& row = rows[i];
        if (apply.Progress) apply.Progress(int(i) + 1, row);
        if (!row.Checked) {
            row.Result = TRowResult::Unticked;
            row.SkipReason.clear();
            continue;
        }
        const QString folder = ExtractFilePath(row.OldPath);
        if (!anyFolder || folder != lastFolder) {
            anyFolder = true;
            lastFolder = folder;
            lines << kCrLf + QStringLiteral(" - ") + LogText(folder);
        }
        lines << QStringLiteral("From   : ") + LogText(ExtractFileName(row.OldPath));
        lines << QStringLiteral("To     : ") + LogText(row.NewName);
        const QString newPath = row.NewPath();
        if (!IsAllowedFileName(row.NewName)) {
            row.Result = TRowResult::Error;
            row.SkipReason = QStringLiteral("illegal name");
        } else if (PathTaken(newPath)) {
            row.Result = TRowResult::Skipped;
            row.SkipReason = QStringLiteral("NewName exists");
        } else if (TooLongForBookmarks(row.OldPath, newPath, apply.HasBookmarks)) {
            row.Result = TRowResult::Error;
            row.SkipReason = kTooLongForBookmarks;
        } else if (apply.Rename(row.OldPath, newPath)) {
            row.Result = TRowResult::Ok;
            row.SkipReason.clear();
        } else {
            row.Result = TRowResult::Error;
            row.SkipReason = QStringLiteral("rename failed");
        }
        switch (row.Result) {
        case TRowResult::Ok:
            lines << QStringLiteral("Result : OK") + kCrLf;
            break;
        case TRowResult::Skipped:
            lines << QStringLiteral("Result : SKIPPED - NewName exists") + kCrLf;
            break;
        default:
            // Only a refusal for the bookmarks' sake names its reason; the other
            // errors keep the plain line.
            lines << QStringLiteral("Result : ERROR") +
                         (row.SkipReason == kTooLongForBookmarks
                              ? QStringLiteral(" - ") + row.SkipReason
                              : QString()) +
                         kCrLf;
            break;
        }
    }
    lines << kCrLf + QStringLiteral("Finished: ") + TimeText(now());

    TMassRenameLog log;
    QString text;
    for (const QString& l : lines)
        text += l + kCrLf;
    log.Text = text.toUtf8();
    const QString name = MassRenameLogName(started);
    log.Path = dataFolder + name;
    if (!dataFolder.isEmpty()) log.Saved = SaveNew(dataFolder, name, log.Text, &log.Path);
    return log;
}
