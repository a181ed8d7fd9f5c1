#pragma once
// "Narrabel.places": where listening stands in every file, one line per file,
// newest first: the position in milliseconds, a tab, the local time as
// "yyyy-MM-ddTHH:mm:ss", a tab, the full path, each line ended by CR LF. At
// most MaxEntries files are kept; the oldest go first. The file is untrusted
// input: lines too long, malformed or beyond the limit are passed over.
//
// "Narrabel.places-log" beside it: the places noted since the file was last
// written, oldest first, so that a place can be put on disk every few seconds
// for the cost of a short line. Each record is the CRC-32 of a place's line
// (without its CR LF) as 8 lowercase hex digits, a tab, then that line as the
// places file holds it. A record cut short or damaged ends the log there. The
// log is folded into the places file (which is replaced in one step) at the
// close, at the next start, and whenever it grows past FoldLogBytes; a log
// that outlives its run is how the next start knows the run ended without its
// close, and its last record is the last place that run noted.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

inline QString PlacesFileName() {
    return QStringLiteral("Narrabel.places");
}

class TPlaces {
public:
    static constexpr int MaxEntries = 5000;
    // A line longer than this (a path is at most 4096 bytes here) is not a place.
    static constexpr int MaxLineBytes = 4200;
    // The log is folded into the file once it holds this much (some 1,700 places).
    static constexpr qint64 FoldLogBytes = 256 * 1024;
    // However large a damaged log is, only so much of it is read.
    static constexpr qint64 MaxLogBytes = 4 * 1024 * 1024;

    struct TPlace {
        QString Path;
        int32_t Position = 0;
        QDateTime When; // null when the file's time could not be read
        // The place's line as the file holds it, kept ready: a save only joins
        // the lines.
        QByteArray Line;
    };

    explicit TPlaces(const QString& path = QString()) : Path(path) {}

    // Reads the file, then the log's records over it (a missing or unreadable
    // file gives no places). LastLogged is the log's last whole record.
    void Load();
    // Replaces the file in one step and empties the log; false (a message in
    // *error) when it cannot. After this object wrote to the log, the newest
    // place starts the log again: the run is still on.
    bool Save(QString* error = nullptr);
    // Saves only when something changed since the last load or save.
    bool SaveIfChanged(QString* error = nullptr);
    // The run ends through its close: the file is written when anything
    // changed, and the log is removed.
    bool SaveAtClose(QString* error = nullptr);
    // Appends the places remembered since the last write to the log, synced,
    // and folds the log when it has grown past its bound. False (a message in
    // *error) when it cannot; they are tried again at the next write.
    bool WriteLog(QString* error = nullptr);
    QByteArray Bytes() const;

    std::optional<TPlace> Find(const QString& path) const;
    // path's place is position now, and it becomes the newest.
    void Remember(const QString& path, int32_t position, const QDateTime& when);
    // The place of oldPath becomes newPath's. True when one moved.
    bool FollowRename(const QString& oldPath, const QString& newPath);
    // Moves a place in the file at path (without a whole load of the program's own).
    static bool FollowRenameInFile(const QString& path, const QString& oldPath,
                                   const QString& newPath);

    const std::vector<TPlace>& Entries() const { return entries; }
    bool Changed() const { return changed; }
    QString LogPath() const;
    // A log record for a place (its CRC, a tab, its line).
    static QByteArray LogRecord(const TPlace& place);

    QString Path;
    // The last place the log held when it was loaded: the last place a run
    // that ended without its close noted. Nothing when there was no log.
    std::optional<TPlace> LastLogged;

private:
    qsizetype indexOf(const QString& path) const;
    void put(const TPlace& place);
    void loadLog();
    bool removeLog(QString* error);
    std::vector<TPlace> entries;   // newest first
    std::vector<QString> unlogged; // paths whose place the log does not have yet, oldest first
    bool changed = false;
    bool logged = false; // this object wrote to the log: its run is on
};
