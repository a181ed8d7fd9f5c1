#include "rename/renamer.h"

#include "bookmarks/bookmark.h"
#include "tags/filetags.h"
#include "util/dialogs.h"
#include "util/errors.h"
#include "util/qorext.h"

#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

TRenamer::TRenamer(QObject* parent) : QObject(parent) {
    // The file's own tag, read afresh each time: a single rename names the
    // file after its tag as saved, whatever was read meanwhile.
    TagSource = [](const QString& path, bool) {
        const TFileTag tag = ReadFileTag(path);
        return TNameSource(tag.Fields, tag.CutShort);
    };
    OpenLog = [](const QString& path) { ShellOpen(path); };
}

bool TRenamer::SelectFolder(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir()) return false;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    folder = clean.isEmpty() ? QStringLiteral("/") : clean;
    return true;
}

void TRenamer::SetSingle(const QString& path, const QString& extension) {
    singlePath = path;
    singleSource = TagOf(path, false);
    Extension = extension;
    Outcome.clear();
    Mass = false;
    SelectFolder(ExtractFilePath(path)); // shown only; the path alone says what is renamed
}

void TRenamer::SetMass() {
    Mass = true;
}

QString TRenamer::ProposedName() const {
    if (Mass) return ComposePatternName(Pattern, Extension);
    return ::ComposeName(singleSource.Tag, Pattern, Extension);
}

QString TRenamer::GoneMessage(const QString& path) {
    return QStringLiteral("This file no longer exists:\r\r") + path;
}

TNameSource TRenamer::TagOf(const QString& path, bool read) {
    return TagSource(path, read);
}

QString TRenamer::ComposeName(const QString& path, bool readTags) {
    return ::ComposeName(TagOf(path, readTags).Tag, Pattern, Extension);
}

bool TRenamer::RenameAndRepoint(const QString& oldPath, const QString& newPath) {
    if (TooLongForBookmarks(oldPath, newPath, HasBookmarks)) {
        LastStatus = TRenameStatus::TooLongForBookmarks;
        return false;
    }
    // One step with the repointing: a run ending between the two is finished
    // at the next start.
    const QString data = DataFolder ? DataFolder() : QString();
    LastStatus = ::RenameAndRepoint(data.isEmpty() ? QString() : data + StoreFileName(), oldPath,
                                    newPath, [this](const QString& from, const QString& to) {
                                        if (Repoint) Repoint(from, to);
                                    });
    return LastStatus == TRenameStatus::Ok;
}

bool TRenamer::RenameSingle(const QString& newName) {
    // Only the file the editor chose, wherever the window's folder tree stands.
    const QString oldPath = singlePath;
    const QString newPath = ExtractFilePath(oldPath) + newName;
    if (oldPath.isEmpty() || !PathTaken(oldPath)) {
        Outcome.clear();
        ShowMessage(GoneMessage(oldPath));
        return true;
    }
    if (UsesCutShortField(Pattern, singleSource.CutShort) &&
        !AskYesNo(QStringLiteral("The tag could not be read in full; rename anyway?")))
        return false; // back to the window: the pattern may leave that field out
    bool renamed = false;
    try {
        renamed = RenameAndRepoint(oldPath, newPath);
    } catch (...) {
        // Only the repointing throws, so the file has its new name already.
        Outcome = QStringLiteral("ok");
        throw;
    }
    if (renamed) {
        Outcome = QStringLiteral("ok");
    } else {
        Outcome.clear();
        ShowMessage(QStringLiteral("Operation failed (files in use, illegal chars...)"));
    }
    return true;
}

void TRenamer::BuildList(const std::function<void(const TRenameAction&)>& found,
                         const std::function<void(const QString&)>& status) {
    if (Busy) return;
    Rows.clear();
    {
        const QScopedValueRollback<bool> busy(Busy, true);
        TMassRenameWalk walk;
        walk.ReadTag = [this](const QString& path) { return TagOf(path, true); };
        walk.HasBookmarks = HasBookmarks;
        walk.Stop = [this] { return CancelRequested || (Closing && Closing()); };
        walk.Status = status;
        walk.Found = found;
        Rows = PlanMassRename(folder, Pattern, Extension, walk);
    }
    CancelRequested = false;
}

void TRenamer::ApplyList(const std::function<void(int, const TRenameAction&)>& progress) {
    if (Busy) return; // never two applies at once
    TMassRenameApply apply;
    // A failed repointing must not cost the rest of the apply or its log; the
    // file was renamed by then, so the row counts as done and the error is
    // reported once everything is saved.
    QString repointError;
    apply.Rename = [this, &repointError](const QString& oldPath, const QString& newPath) {
        try {
            return RenameAndRepoint(oldPath, newPath);
        } catch (const std::exception& e) {
            if (repointError.isEmpty()) repointError = QString::fromUtf8(e.what());
            return true;
        }
    };
    apply.Progress = progress;
    apply.HasBookmarks = HasBookmarks;
    apply.Now = Now;
    {
        const QScopedValueRollback<bool> busy(Busy, true);
        const QScopedValueRollback<bool> applying(Applying, true);
        LastLog = ApplyMassRename(Rows, DataFolder ? DataFolder() : QString(), apply);
    }
    if (LastLog.Saved && OpenLog) OpenLog(LastLog.Path);
    if (!LastLog.Saved)
        throw NarrabelError(
            QStringLiteral("The mass rename log could not be written to %1.").arg(LastLog.Path) +
            (repointError.isEmpty() ? QString() : QStringLiteral("\n") + repointError));
    if (!repointError.isEmpty()) throw NarrabelError(repointError);
}
