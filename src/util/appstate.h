#pragma once
// What every subsystem shares for the whole run: where the data lives, whether
// the program is closing, the window caption that long work shows, and the
// tag editor's autolist; and the data folder's lock, which keeps a second
// program from writing there, and what keeps the folder from being written.

#include "util/qorext.h"

#include <QObject>
#include <QString>
#include <memory>

class QLockFile;

class TAppState : public QObject {
    Q_OBJECT
public:
    explicit TAppState(QObject* parent = nullptr);
    ~TAppState() override;

    // Sets DataFolder to the documents folder's "Narrabel" folder, making it
    // (and a missing documents folder) when needed, and StorePath beside it.
    // False, both empty, when the folder cannot be made.
    bool ResolveDataFolder();
    // The data folder's path (without a trailing "/") whether it exists or
    // not; what ResolveDataFolder makes.
    static QString DataFolderPath();
    // DataFolder + name; empty without a data folder.
    QString DataFile(const QString& name) const;

    // ---- one program per data folder
    enum class TLock {
        Held,       // this program holds the lock
        Busy,       // another running program holds it (LockHolder says which)
        Unavailable // no lock can be made there (the folder cannot be written)
    };
    // Takes the lock "Narrabel.lock" in DataFolder. A lock left by a program
    // that no longer runs is taken over.
    TLock LockDataFolder();
    void UnlockDataFolder();
    static QString LockFileName() { return QStringLiteral("Narrabel.lock"); }
    // Says which program holds the lock, for the message of a second start.
    QString LockHolder;

    // ---- a data folder that cannot be written
    // Looks at DataFolder and sets WriteProblem to what keeps it from being
    // written ("... is read-only."), or clears it.
    void CheckWritable();
    // Said once at start, in the status bar and the window title; empty when
    // the folder can be written.
    QString WriteProblem;
    // State can be saved: there is a data folder and nothing keeps it from being written.
    bool CanWrite() const { return !DataFolder.isEmpty() && WriteProblem.isEmpty(); }

    QString Caption() const { return caption; }
    void SetCaption(const QString& text);
    // The window's title: the caption, and while it is the idle one, what
    // keeps the data folder from being written.
    QString Title() const;

    QString DataFolder; // ends in "/"; empty when no data folder could be made
    QString StorePath;  // the bookmark store, "Narrabel.nbm" in DataFolder
    // The program is closing: long loops stop, no bookmark description is composed.
    bool Closing = false;
    // The tag editor's autolist ("Narrabel.edt"); gone once the close handler saved it.
    std::unique_ptr<TSuperStringList> EditList = std::make_unique<TSuperStringList>();

signals:
    void TitleChanged(const QString& title);

private:
    QString caption = QStringLiteral("Narrabel");
    std::unique_ptr<QLockFile> lock;
};
