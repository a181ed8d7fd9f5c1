#pragma once
// Journals: what undoes (or finishes) a change to a file, put on disk and synced
// before the change begins, and removed once the change is complete and synced.
// A run that ends part way leaves the journal behind; the next run (or the next
// look at the file) reads it and puts things right.
//
// File layout: a header record (magic, kind, nonce, payload) and then any number
// of entries, each with a CRC-32 salted with the header's nonce. A record whose
// CRC does not match was never synced whole, and nothing it describes has
// happened yet: readers stop there. The file is locked (flock) while its writer
// runs, so a second program never takes a live journal for a stale one.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>

// Syncs a file's data and size (fsync). False when it cannot be opened or synced.
bool SyncFile(const QString& path);
// Syncs a folder, so that names created, renamed or removed in it last.
bool SyncFolder(const QString& folder);
// The folder part of a path ("/a/b.mp3" -> "/a").
QString FolderOf(const QString& path);

class TJournalWriter {
public:
    TJournalWriter() = default;
    ~TJournalWriter(); // closes without removing: an unfinished change stays journalled
    TJournalWriter(const TJournalWriter&) = delete;
    TJournalWriter& operator=(const TJournalWriter&) = delete;

    // Creates the journal at path (a journal nobody holds is replaced), writes the
    // header with payload and the first entries, syncs the file and its folder.
    // False (error set) when it cannot, or when another program holds that journal.
    bool Begin(const QString& path, char kind, const QByteArray& payload,
               const QVector<QByteArray>& entries = {}, QString* error = nullptr);
    // Appends entries in one write and syncs them.
    bool Append(const QVector<QByteArray>& entries, QString* error = nullptr);
    // The change is complete: removes the journal and syncs its folder.
    bool End(QString* error = nullptr);
    bool Active() const { return fd >= 0; }
    const QString& Path() const { return path; }

private:
    int fd = -1;
    uint32_t nonce = 0;
    QString path;
};

// A journal left behind, locked while it is looked at.
class TJournalReader {
public:
    enum State {
        None, // no journal
        Busy, // a running program holds it
        Torn, // the header never landed whole: nothing it covers was touched
        Valid,
    };
    TJournalReader() = default;
    ~TJournalReader();
    TJournalReader(const TJournalReader&) = delete;
    TJournalReader& operator=(const TJournalReader&) = delete;

    State Open(const QString& path);
    char Kind = 0;
    QByteArray Payload;
    QVector<QByteArray> Entries; // the whole ones, in the order written
    // Removes the journal (the change it covered is undone or finished).
    bool Remove();

private:
    int fd = -1;
    QString path;
};

// Little helpers for journal payloads.
void PutU32(QByteArray& out, uint32_t v);
void PutI64(QByteArray& out, int64_t v);
void PutBytes(QByteArray& out, const QByteArray& bytes); // length, then the bytes
struct TPayloadReader {
    const QByteArray& data;
    int at = 0;
    bool ok = true;
    uint32_t U32();
    int64_t I64();
    QByteArray Bytes();
};
