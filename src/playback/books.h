#pragma once
// A book and what belongs to it: its own listening speed and volume boost.
//
// A book is what play on walks. Its key is
// - the file's own path for an M4B (one file is the whole book, with its
//   chapters), and for a file that is the only playable file of its book
//   folder (its folder with the disc folders under it);
// - the book folder's path (the folder above a disc folder such as "CD 2")
//   for a file that is one of two or more playable files of that folder.
// Renaming a file within a book never changes the book's key.
//
// "Narrabel.books" keeps the books, one line per book, newest first: the
// speed ("1.5"), a tab, the boost in dB ("6"), a tab, the local time the book
// was last set as "yyyy-MM-ddTHH:mm:ss", a tab, the key; each line ended by
// CR LF. At most MaxEntries books are kept; the oldest go first. The file is
// untrusted input: lines too long, malformed or beyond the limit are passed
// over; a line whose numbers lie outside what this program offers is used
// within its range and written back as it was until its book is set again.

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

// The key of the book that file belongs to.
QString BookKey(const QString& file);

// The boost a book may have, in dB: 0, 3, 6, 9 or 12.
constexpr int MaxBoostDb = 12;
constexpr int BoostStepDb = 3;
// A boost as the status bar shows it: "+6 dB".
QString BoostText(int db);

class TBooks {
public:
    static constexpr int MaxEntries = 5000;
    // A line longer than this (a path is at most 4096 bytes here) is not a book.
    static constexpr int MaxLineBytes = 4200;

    struct TBook {
        QString Key;
        double Speed = 1.0;
        int BoostDb = 0;
        QDateTime When;  // null when the line's time could not be read
        QByteArray Line; // the book's line as the file holds it
    };

    explicit TBooks(const QString& path = QString()) : Path(path) {}

    // Reads the file (a missing or unreadable one gives no books).
    void Load();
    // Replaces the file in one step; false (a message in *error) when it cannot.
    bool Save(QString* error = nullptr);
    // Saves only when something changed since the last load or save.
    bool SaveIfChanged(QString* error = nullptr);
    QByteArray Bytes() const;

    std::optional<TBook> Find(const QString& key) const;
    // key's speed and boost are these now, and it becomes the newest.
    void Remember(const QString& key, double speed, int boostDb, const QDateTime& when);
    // A book whose key is oldPath, or lies within the folder oldPath, follows
    // it to newPath. True when one moved.
    bool FollowRename(const QString& oldPath, const QString& newPath);

    const std::vector<TBook>& Entries() const { return entries; }
    bool Changed() const { return changed; }

    QString Path;

private:
    qsizetype indexOf(const QString& key) const;
    std::vector<TBook> entries; // newest first
    bool changed = false;
};

// The book being listened to and its speed and boost, over the store. A
// speed or boost chosen while no book is open goes to the next book opened,
// unless that book has its own; a book never set plays at 1.0x without a
// boost.
class TBookSettings {
public:
    struct TTuning {
        double Speed = 1.0;
        int BoostDb = 0;
    };

    TBooks Store;

    // file's book becomes the current one: its speed and boost.
    TTuning Enter(const QString& file, const QDateTime& now);
    // No book is open any more.
    void Leave() { key.clear(); }
    QString Key() const { return key; }
    // The current book's speed or boost was changed (without a book: the next
    // new book's).
    void SetSpeed(double speed, const QDateTime& now);
    void SetBoost(int db, const QDateTime& now);
    // After the program renamed a file (or a folder).
    bool FollowRename(const QString& oldPath, const QString& newPath);

private:
    void store(const QDateTime& now);
    QString key;
    TTuning current;
    std::optional<TTuning> pending; // chosen while no book was open
};
