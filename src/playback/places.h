#pragma once
// "Narrabel.places": where listening stands in every file, one line per file,
// newest first: the position in milliseconds, a tab, the local time as
// "yyyy-MM-ddTHH:mm:ss", a tab, the full path, each line ended by CR LF. At
// most MaxEntries files are kept; the oldest go first. The file is untrusted
// input: lines too long, malformed or beyond the limit are passed over.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class TPlaces {
public:
    static constexpr int MaxEntries = 5000;
    // A line longer than this (a path is at most 4096 bytes here) is not a place.
    static constexpr int MaxLineBytes = 4200;

    struct TPlace {
        QString Path;
        int32_t Position = 0;
        QDateTime When; // null when the file's time could not be read
        // The place's line as the file holds it, kept ready: a save, every
        // 30 s while playing, only joins the lines.
        QByteArray Line;
    };

    explicit TPlaces(const QString& path = QString()) : Path(path) {}

    // Reads the file (a missing or unreadable one gives no places).
    void Load();
    // Replaces the file in one step; false (a message in *error) when it cannot.
    bool Save(QString* error = nullptr);
    // Saves only when something changed since the last load or save.
    bool SaveIfChanged(QString* error = nullptr);
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

    QString Path;

private:
    qsizetype indexOf(const QString& path) const;
    std::vector<TPlace> entries; // newest first
    bool changed = false;
};
