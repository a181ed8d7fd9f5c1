#include "playback/places.h"

#include "util/qorext.h"

#include <QFile>
#include <QSet>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
// However many lines a damaged file holds, only so many are looked at.
constexpr int kMaxLinesRead = 4 * TPlaces::MaxEntries;

QByteArray LineOf(const TPlaces::TPlace& p) {
    QByteArray line = QByteArray::number(p.Position);
    line += '\t';
    if (p.When.isValid()) line += p.When.toString(kTimeFormat).toLatin1();
    line += '\t';
    line += p.Path.toUtf8();
    line += "\r\n";
    return line;
}

bool Storable(const QString& path) {
    return !path.isEmpty() && !path.contains(QLatin1Char('\r')) &&
           !path.contains(QLatin1Char('\n'));
}

} // namespace

void TPlaces::Load() {
    entries.clear();
    changed = false;
    if (Path.isEmpty()) return;
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) return;
    QSet<QString> seen;
    for (int lines = 0; lines < kMaxLinesRead && int(entries.size()) < MaxEntries && !f.atEnd();
         ++lines) {
        QByteArray line = f.readLine(MaxLineBytes + 2);
        if (!line.endsWith('\n') && !f.atEnd()) {
            // Too long to be a place: the rest of it is skipped, a bounded piece at a time.
            while (!f.atEnd() && !f.readLine(64 * 1024).endsWith('\n')) {
            }
            continue;
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const int tab1 = line.indexOf('\t');
        const int tab2 = tab1 < 0 ? -1 : line.indexOf('\t', tab1 + 1);
        if (tab2 < 0) continue;
        bool ok = false;
        const QByteArray number = line.left(tab1);
        const qlonglong position = number.toLongLong(&ok);
        if (!ok || position < 0 || position > INT32_MAX || number.startsWith('+')) continue;
        const QString path = QString::fromUtf8(line.mid(tab2 + 1));
        if (path.isEmpty() || seen.contains(path)) continue; // the newest of a path counts
        seen.insert(path);
        TPlace place;
        place.Path = path;
        place.Position = int32_t(position);
        place.When = QDateTime::fromString(QString::fromLatin1(line.mid(tab1 + 1, tab2 - tab1 - 1)),
                                           kTimeFormat);
        place.Line = LineOf(place);
        entries.push_back(place);
    }
}

QByteArray TPlaces::Bytes() const {
    qsizetype size = 0;
    for (const TPlace& p : entries)
        size += p.Line.size();
    QByteArray out;
    out.reserve(size);
    for (const TPlace& p : entries)
        out += p.Line;
    return out;
}

bool TPlaces::Save(QString* error) {
    if (Path.isEmpty()) return true;
    if (!ReplaceFile(Path, Bytes(), error)) return false;
    changed = false;
    return true;
}

bool TPlaces::SaveIfChanged(QString* error) {
    return !changed || Save(error);
}

qsizetype TPlaces::indexOf(const QString& path) const {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].Path == path) return qsizetype(i);
    return -1;
}

std::optional<TPlaces::TPlace> TPlaces::Find(const QString& path) const {
    const qsizetype i = indexOf(path);
    if (i < 0) return std::nullopt;
    return entries[size_t(i)];
}

void TPlaces::Remember(const QString& path, int32_t position, const QDateTime& when) {
    if (!Storable(path)) return;
    const qsizetype i = indexOf(path);
    if (i == 0 && entries[0].Position == position) return; // the same place: nothing to save
    TPlace place{path, std::max(position, 0), when, {}};
    place.Line = LineOf(place);
    if (i > 0) entries.erase(entries.begin() + i);
    if (i == 0)
        entries[0] = place;
    else
        entries.insert(entries.begin(), place);
    if (int(entries.size()) > MaxEntries) entries.resize(MaxEntries);
    changed = true;
}

bool TPlaces::FollowRename(const QString& oldPath, const QString& newPath) {
    if (oldPath == newPath || !Storable(newPath)) return false;
    const qsizetype i = indexOf(oldPath);
    if (i < 0) return false;
    // A place the new name had is stale: the file there now is the renamed one.
    const qsizetype taken = indexOf(newPath);
    entries[size_t(i)].Path = newPath;
    entries[size_t(i)].Line = LineOf(entries[size_t(i)]);
    if (taken >= 0) entries.erase(entries.begin() + taken);
    changed = true;
    return true;
}

bool TPlaces::FollowRenameInFile(const QString& path, const QString& oldPath,
                                 const QString& newPath) {
    TPlaces places(path);
    places.Load();
    return places.FollowRename(oldPath, newPath) && places.Save();
}
