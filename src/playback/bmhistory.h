#pragma once
// The visited-files history "Narrabel.nbh": one line per visit, the position
// as 12 digits followed at once by the file's path, oldest first. Prev and Next
// walk a cursor through it; every append puts the cursor on the new last entry.
//
// The main window owns one object (created with the data folder's file, or an
// empty path when there is no data folder) and calls Add/AddBookmark after a
// jump; OnChanged (set by the main window to its UpdateHints) runs after every
// append. GoPrev/GoNext only move the cursor and name the file to open; the
// window opens and plays it and then refreshes the hints from PrevHint/NextHint.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class TBookmark;

class TBMHistory {
public:
    static constexpr int Capacity = 99; // entries kept after an append

    // Loads the file when it exists; the cursor stands on the last entry.
    explicit TBMHistory(const QString& path);
    // Saves the file (nothing without a path; a failed write is dropped: an
    // owner that reports it calls Save and clears Path first).
    ~TBMHistory();
    TBMHistory(const TBMHistory&) = delete;
    TBMHistory& operator=(const TBMHistory&) = delete;

    void Add(const QString& path, int32_t position);
    void AddBookmark(const TBookmark& bookmark);
    // Moves the cursor one entry back / forward and returns that entry's path;
    // nothing when there is no entry to move to.
    std::optional<QString> GoPrev();
    std::optional<QString> GoNext();

    QString PrevHint() const;
    QString NextHint() const;
    // Entries of oldPath take newPath, keeping their positions and places; the
    // cursor stays. True when any entry changed.
    bool FollowRename(const QString& oldPath, const QString& newPath);
    // Writes every entry to the file, replacing it in one step. False (the old
    // file untouched, a message in *error) when it cannot.
    bool Save(QString* error = nullptr) const;

    // "000000000834/books/a.mp3" for position 834 and that path.
    static QString EntryLine(const QString& path, int32_t position);
    // The path of an entry: its characters from the 13th on (at most 999).
    static QString EntryPath(const QString& line);

    QString Path;
    QStringList Entries;
    int Cursor = -1;
    std::function<void()> OnChanged;
};
