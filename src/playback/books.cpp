#include "playback/books.h"

#include "playback/bookorder.h"
#include "playback/playerdevice.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
// However many lines a damaged file holds, only so many are looked at.
constexpr int kMaxLinesRead = 4 * TBooks::MaxEntries;

double ValidSpeed(double speed) {
    return std::clamp(std::round(speed * 10.0) / 10.0, TPlayerDevice::MinRate,
                      TPlayerDevice::MaxRate);
}

int ValidBoost(int db) {
    return std::clamp(db / BoostStepDb * BoostStepDb, 0, MaxBoostDb);
}

QByteArray LineOf(const TBooks::TBook& b) {
    QByteArray line = QByteArray::number(b.Speed, 'f', 1);
    line += '\t';
    line += QByteArray::number(b.BoostDb);
    line += '\t';
    if (b.When.isValid()) line += b.When.toString(kTimeFormat).toLatin1();
    line += '\t';
    line += b.Key.toUtf8();
    line += "\r\n";
    return line;
}

bool Storable(const QString& key) {
    return !key.isEmpty() && !key.contains(QLatin1Char('\r')) && !key.contains(QLatin1Char('\n'));
}

// A plain decimal number: digits with at most one point, no sign, no exponent.
bool PlainNumber(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 12) return false;
    int points = 0;
    for (const char c : text) {
        if (c == '.')
            ++points;
        else if (c < '0' || c > '9')
            return false;
    }
    return points <= 1 && text != ".";
}

// Where a line's key starts: after its third tab (a key may hold tabs of its own).
qsizetype KeyOffset(const QByteArray& line) {
    qsizetype at = -1;
    for (int i = 0; i < 3; ++i)
        at = line.indexOf('\t', at + 1);
    return at + 1;
}

// A key given up by a rename is kept under its new name: the key itself, or
// a key within the renamed folder.
std::optional<QString> Renamed(const QString& key, const QString& oldPath, const QString& newPath) {
    if (key == oldPath) return newPath;
    const QString folder =
        oldPath.endsWith(QLatin1Char('/')) ? oldPath : oldPath + QLatin1Char('/');
    if (!key.startsWith(folder)) return std::nullopt;
    return QDir(newPath).filePath(key.mid(folder.size()));
}

} // namespace

QString BookKey(const QString& file) {
    const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    if (IsWholeBookFile(path)) return path;
    const QStringList files = BookFiles(path);
    if (files.size() < 2 || !files.contains(path)) return path;
    // The book folder: the file's folder, or the one above its disc folder.
    const QString folder = QFileInfo(path).absolutePath();
    return IsDiscFolderName(QFileInfo(folder).fileName()) ? QFileInfo(folder).absolutePath()
                                                          : folder;
}

QString BoostText(int db) {
    return QStringLiteral("+%1 dB").arg(db);
}

// ---------------------------------------------------------------- the store

void TBooks::Load() {
    entries.clear();
    changed = false;
    if (Path.isEmpty()) return;
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) return;
    QSet<QString> seen;
    ReadBoundedLines(f, kMaxLinesRead, MaxLineBytes, [&](const QByteArray& line) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 4 || !PlainNumber(fields[0]) || !PlainNumber(fields[1]) ||
            fields[1].contains('.'))
            return true;
        const QString key = QString::fromUtf8(line.mid(KeyOffset(line)));
        if (key.isEmpty() || seen.contains(key)) return true; // the newest of a book counts
        seen.insert(key);
        TBook book;
        book.Key = key;
        book.Speed = ValidSpeed(fields[0].toDouble());
        book.BoostDb = ValidBoost(fields[1].toInt());
        book.When = QDateTime::fromString(QString::fromLatin1(fields[2]), kTimeFormat);
        // Written back as read: a value this program does not offer stays for one that does.
        book.Line = line + "\r\n";
        entries.push_back(book);
        return int(entries.size()) < MaxEntries;
    });
}

QByteArray TBooks::Bytes() const {
    qsizetype size = 0;
    for (const TBook& b : entries)
        size += b.Line.size();
    QByteArray out;
    out.reserve(size);
    for (const TBook& b : entries)
        out += b.Line;
    return out;
}

bool TBooks::Save(QString* error) {
    if (Path.isEmpty()) return true;
    if (!ReplaceFile(Path, Bytes(), error)) return false;
    changed = false;
    return true;
}

bool TBooks::SaveIfChanged(QString* error) {
    return !changed || Save(error);
}

qsizetype TBooks::indexOf(const QString& key) const {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].Key == key) return qsizetype(i);
    return -1;
}

std::optional<TBooks::TBook> TBooks::Find(const QString& key) const {
    const qsizetype i = indexOf(key);
    if (i < 0) return std::nullopt;
    return entries[size_t(i)];
}

void TBooks::Remember(const QString& key, double speed, int boostDb, const QDateTime& when) {
    if (!Storable(key)) return;
    TBook book{key, ValidSpeed(speed), ValidBoost(boostDb), when, {}};
    book.Line = LineOf(book);
    const qsizetype i = indexOf(key);
    if (i >= 0) entries.erase(entries.begin() + i);
    entries.insert(entries.begin(), book);
    if (int(entries.size()) > MaxEntries) entries.resize(MaxEntries);
    changed = true;
}

bool TBooks::FollowRename(const QString& oldPath, const QString& newPath) {
    if (oldPath.isEmpty() || oldPath == newPath || !Storable(newPath)) return false;
    std::vector<bool> renamed(entries.size(), false);
    QSet<QString> taken; // keys the renamed books hold now
    for (size_t i = 0; i < entries.size(); ++i) {
        TBook& b = entries[i];
        const std::optional<QString> now = Renamed(b.Key, oldPath, newPath);
        if (!now) continue;
        b.Key = *now;
        // The numbers and the time stay as they were; only the key is new.
        b.Line = b.Line.left(KeyOffset(b.Line)) + b.Key.toUtf8() + "\r\n";
        renamed[i] = true;
        taken.insert(b.Key);
    }
    if (taken.isEmpty()) return false;
    // A book the new name had is stale: what is there now is the renamed one.
    for (size_t i = entries.size(); i-- > 0;)
        if (!renamed[i] && taken.contains(entries[i].Key))
            entries.erase(entries.begin() + qsizetype(i));
    changed = true;
    return true;
}

// ---------------------------------------------------------------- the book being listened to

TBookSettings::TTuning TBookSettings::Enter(const QString& file, const QDateTime& now) {
    const QString next = BookKey(file);
    if (next == key) return current;
    key = next;
    if (const std::optional<TBooks::TBook> book = Store.Find(key)) {
        current = {book->Speed, book->BoostDb};
    } else if (pending) {
        // Chosen before the book was opened: the book's own from now on.
        current = *pending;
        store(now);
    } else {
        current = TTuning();
    }
    pending.reset();
    return current;
}

void TBookSettings::SetSpeed(double speed, const QDateTime& now) {
    if (key.isEmpty()) {
        pending = pending.value_or(current);
        pending->Speed = ValidSpeed(speed);
        return;
    }
    current.Speed = ValidSpeed(speed);
    store(now);
}

void TBookSettings::SetBoost(int db, const QDateTime& now) {
    if (key.isEmpty()) {
        pending = pending.value_or(current);
        pending->BoostDb = ValidBoost(db);
        return;
    }
    current.BoostDb = ValidBoost(db);
    store(now);
}

void TBookSettings::store(const QDateTime& now) {
    Store.Remember(key, current.Speed, current.BoostDb, now);
}

bool TBookSettings::FollowRename(const QString& oldPath, const QString& newPath) {
    if (const std::optional<QString> now = Renamed(key, oldPath, newPath);
        now && !oldPath.isEmpty())
        key = *now;
    return Store.FollowRename(oldPath, newPath);
}
