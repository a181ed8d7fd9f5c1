#include "playback/bmhistory.h"

#include "bookmarks/bookmark.h"
#include "util/qorext.h"

#include <QFileInfo>

TBMHistory::TBMHistory(const QString& path) : Path(path) {
    TSuperStringList lines;
    if (!Path.isEmpty() && QFileInfo::exists(Path) && lines.LoadFromFile(Path)) Entries = lines;
    Cursor = int(Entries.size()) - 1;
}

TBMHistory::~TBMHistory() {
    Save();
}

bool TBMHistory::Save(QString* error) const {
    if (Path.isEmpty()) return false;
    TSuperStringList lines;
    lines.append(Entries);
    return lines.SaveToFile(Path, error);
}

QString TBMHistory::EntryLine(const QString& path, int32_t position) {
    return ZeroPadTo(QString::number(position), 12) + path;
}

QString TBMHistory::EntryPath(const QString& line) {
    return line.mid(12, 999);
}

void TBMHistory::Add(const QString& path, int32_t position) {
    Entries.append(EntryLine(path, position));
    while (Entries.size() > Capacity)
        Entries.removeFirst();
    Cursor = int(Entries.size()) - 1;
    if (OnChanged) OnChanged();
}

void TBMHistory::AddBookmark(const TBookmark& bookmark) {
    Add(bookmark.Rec.FilePath, bookmark.Rec.Position);
}

bool TBMHistory::FollowRename(const QString& oldPath, const QString& newPath) {
    bool changed = false;
    for (QString& line : Entries) {
        if (line.size() <= 12 || EntryPath(line) != oldPath) continue;
        line = line.left(12) + newPath;
        changed = true;
    }
    return changed;
}

std::optional<QString> TBMHistory::GoPrev() {
    if (Cursor - 1 < 0 || Cursor - 1 >= Entries.size()) return std::nullopt;
    --Cursor;
    return EntryPath(Entries.at(Cursor));
}

std::optional<QString> TBMHistory::GoNext() {
    if (Cursor + 1 < 0 || Cursor + 1 >= Entries.size()) return std::nullopt;
    ++Cursor;
    return EntryPath(Entries.at(Cursor));
}

QString TBMHistory::PrevHint() const {
    if (Cursor < 0) return QStringLiteral("no history yet");
    if (Cursor - 1 < 0) return QStringLiteral("beginning of bookmark history");
    return ExtractFileName(EntryPath(Entries.value(Cursor - 1)));
}

QString TBMHistory::NextHint() const {
    if (Cursor < 0) return QStringLiteral("no history yet");
    if (Cursor + 1 < Entries.size()) return ExtractFileName(EntryPath(Entries.at(Cursor + 1)));
    return QStringLiteral("end of bookmark history");
}
