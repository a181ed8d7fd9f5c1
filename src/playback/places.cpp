#include "playback/places.h"

#include "util/journal.h"
#include "util/qorext.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
// However many lines a damaged file holds, only so many are looked at.
constexpr int kMaxLinesRead = 4 * TPlaces::MaxEntries;
constexpr int kCrcDigits = 8;

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

uint32_t CrcOf(const QByteArray& bytes) {
    return uint32_t(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                          uInt(bytes.size())));
}

// A place from a line without its line end; nothing when it is none.
std::optional<TPlaces::TPlace> ParseLine(const QByteArray& line) {
    const int tab1 = line.indexOf('\t');
    const int tab2 = tab1 < 0 ? -1 : line.indexOf('\t', tab1 + 1);
    if (tab2 < 0) return std::nullopt;
    bool ok = false;
    const QByteArray number = line.left(tab1);
    const qlonglong position = number.toLongLong(&ok);
    if (!ok || position < 0 || position > INT32_MAX || number.startsWith('+')) return std::nullopt;
    TPlaces::TPlace place;
    place.Path = QString::fromUtf8(line.mid(tab2 + 1));
    if (place.Path.isEmpty()) return std::nullopt;
    place.Position = int32_t(position);
    place.When = QDateTime::fromString(QString::fromLatin1(line.mid(tab1 + 1, tab2 - tab1 - 1)),
                                       kTimeFormat);
    place.Line = LineOf(place);
    return place;
}

QString ErrnoText() {
    return QString::fromLocal8Bit(strerror(errno));
}

bool Fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

bool WriteAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

} // namespace

QString TPlaces::LogPath() const {
    return Path.isEmpty() ? QString() : Path + QStringLiteral("-log");
}

QByteArray TPlaces::LogRecord(const TPlace& place) {
    const QByteArray line = place.Line.isEmpty() ? LineOf(place) : place.Line;
    const QByteArray body = line.left(line.size() - 2); // without its CR LF
    return QByteArray::number(CrcOf(body), 16).rightJustified(kCrcDigits, '0') + '\t' + line;
}

void TPlaces::Load() {
    entries.clear();
    unlogged.clear();
    LastLogged.reset();
    changed = logged = false;
    if (Path.isEmpty()) return;
    QFile f(Path);
    if (f.open(QIODevice::ReadOnly)) {
        QSet<QString> seen;
        ReadBoundedLines(f, kMaxLinesRead, MaxLineBytes, [&](const QByteArray& line) {
            const std::optional<TPlace> place = ParseLine(line);
            // The newest of a path counts.
            if (place && !seen.contains(place->Path)) {
                seen.insert(place->Path);
                entries.push_back(*place);
            }
            return int(entries.size()) < MaxEntries;
        });
    }
    loadLog();
}

void TPlaces::loadLog() {
    QFile f(LogPath());
    if (!f.open(QIODevice::ReadOnly)) return;
    qint64 read = 0;
    for (int lines = 0; lines < kMaxLinesRead && read < MaxLogBytes && !f.atEnd(); ++lines) {
        QByteArray line = f.readLine(kCrcDigits + 1 + MaxLineBytes + 2);
        read += line.size();
        // A record cut short (or far too long to be one) ends the log.
        if (!line.endsWith('\n')) break;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.size() <= kCrcDigits || line[kCrcDigits] != '\t') break;
        bool ok = false;
        const uint32_t crc = line.left(kCrcDigits).toUInt(&ok, 16);
        const QByteArray body = line.mid(kCrcDigits + 1);
        if (!ok || crc != CrcOf(body)) break;
        const std::optional<TPlace> place = ParseLine(body);
        if (!place || !Storable(place->Path)) break;
        put(*place);
        LastLogged = *place;
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

bool TPlaces::removeLog(QString* error) {
    const QByteArray log = QFile::encodeName(LogPath());
    if (::unlink(log.constData()) != 0) {
        if (errno == ENOENT) return true;
        return Fail(error, QStringLiteral("Cannot remove \"%1\": %2").arg(LogPath(), ErrnoText()));
    }
    // Gone for good: a log that came back after a power cut would be taken
    // for a run that ended without its close.
    SyncFolder(FolderOf(Path));
    return true;
}

bool TPlaces::Save(QString* error) {
    if (Path.isEmpty()) return true;
    if (!ReplaceFile(Path, Bytes(), error)) return false;
    changed = false;
    unlogged.clear();
    // The file holds every place now. While the run is on, the log starts
    // again from the newest place (replaced in one step, so that there is
    // always a log to say the run has not closed); otherwise it goes.
    if (logged && !entries.empty())
        return ReplaceFile(LogPath(), LogRecord(entries.front()), error);
    return removeLog(error);
}

bool TPlaces::SaveIfChanged(QString* error) {
    return !changed || Save(error);
}

bool TPlaces::SaveAtClose(QString* error) {
    if (Path.isEmpty()) return true;
    if (changed) {
        if (!ReplaceFile(Path, Bytes(), error)) return false;
        changed = false;
    }
    unlogged.clear();
    logged = false;
    return removeLog(error);
}

bool TPlaces::WriteLog(QString* error) {
    if (Path.isEmpty() || unlogged.empty()) return true;
    QByteArray records;
    for (const QString& path : unlogged)
        if (const qsizetype i = indexOf(path); i >= 0) records += LogRecord(entries[size_t(i)]);
    const QString logPath = LogPath();
    const QByteArray native = QFile::encodeName(logPath);
    struct stat st;
    const bool existed = ::stat(native.constData(), &st) == 0;
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(error, QStringLiteral("Cannot write \"%1\": %2").arg(logPath, ErrnoText()));
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    const bool ok = before >= 0 && WriteAll(fd, records) && ::fdatasync(fd) == 0;
    QString why;
    if (!ok) {
        why = ErrnoText();
        // A record cut short (a full disk) would end the log there: it goes.
        if (before >= 0 && ::ftruncate(fd, before) == 0) ::fdatasync(fd);
    }
    const qint64 size = ok && ::fstat(fd, &st) == 0 ? qint64(st.st_size) : 0;
    ::close(fd);
    if (!ok) return Fail(error, QStringLiteral("Cannot write \"%1\": %2").arg(logPath, why));
    // A new log's name must outlast a power cut as its records do.
    if (!existed) SyncFolder(FolderOf(logPath));
    unlogged.clear();
    logged = true;
    return size <= FoldLogBytes || Save(error);
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

void TPlaces::put(const TPlace& place) {
    const qsizetype i = indexOf(place.Path);
    if (i > 0) entries.erase(entries.begin() + i);
    if (i == 0)
        entries[0] = place;
    else
        entries.insert(entries.begin(), place);
    if (int(entries.size()) > MaxEntries) entries.resize(MaxEntries);
    changed = true;
}

void TPlaces::Remember(const QString& path, int32_t position, const QDateTime& when) {
    if (!Storable(path)) return;
    if (!entries.empty() && entries[0].Path == path && entries[0].Position == position)
        return; // the same place: nothing to save
    TPlace place{path, std::max(position, 0), when, {}};
    place.Line = LineOf(place);
    put(place);
    // The log writes each place once, in the order they changed.
    for (auto it = unlogged.begin(); it != unlogged.end(); ++it)
        if (*it == path) {
            unlogged.erase(it);
            break;
        }
    unlogged.push_back(path);
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
    for (QString& path : unlogged)
        if (path == oldPath) path = newPath;
    for (size_t k = unlogged.size(); k-- > 0;) // each path once, at its newest
        for (size_t j = k + 1; j < unlogged.size(); ++j)
            if (unlogged[j] == unlogged[k]) {
                unlogged.erase(unlogged.begin() + qsizetype(k));
                break;
            }
    changed = true;
    return true;
}

bool TPlaces::FollowRenameInFile(const QString& path, const QString& oldPath,
                                 const QString& newPath) {
    TPlaces places(path);
    places.Load();
    return places.FollowRename(oldPath, newPath) && places.Save();
}
