// The crash test's child: sets up a data folder (and audio files) for one
// write operation, then runs that operation through the core's own functions,
// with the write-fault library (when preloaded) armed just before it.
//
//   crashdriver setup OP DIR [BOOKS]    the state before the operation
//   crashdriver run OP DIR [BOOKS]      set up, then the operation
//   crashdriver op OP DIR [BOOKS]       the operation on a state set up before
//   crashdriver recover DIR [FILE]      the start-up recovery of DIR/data/ (and,
//                                       given a FILE, the recovery the tool runs)
//
// DIR/data/ is the data folder; the audio files live in BOOKS (DIR/books by
// default, or a folder on another file system).

#include "bookmarks/bookmark.h"
#include "bookmarks/storejournal.h"
#include "bookmarks/treefile.h"
#include "playback/bmhistory.h"
#include "playback/places.h"
#include "recovery/recovery.h"
#include "rename/massrename.h"
#include "tags/filetags.h"
#include "tags/id3v2/id3v2.h"
#include "tags/id3v2/savejournal.h"
#include "util/qorext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

namespace {

const QDateTime kNow(QDate(2024, 3, 15), QTime(9, 30, 12));

struct Paths {
    QString data;  // ends in "/"
    QString books; // ends in "/"
    QString store() const { return data + StoreFileName(); }
    QString tree() const { return data + TreeFileName(); }
};

[[noreturn]] void Fail(const QString& what) {
    std::fprintf(stderr, "crashdriver: %s\n", what.toUtf8().constData());
    std::exit(3);
}

void Check(bool ok, const QString& what) {
    if (!ok) Fail(what);
}

void Arm() {
    using ArmFn = void (*)();
    if (auto arm = reinterpret_cast<ArmFn>(dlsym(RTLD_DEFAULT, "narrabel_fault_arm"))) arm();
}

TBookmarkRec Add(const Paths& p, const QString& file, int32_t position, const QString& desc) {
    TBookmark bm;
    bm.Rec.FilePath = file;
    bm.Rec.Position = position;
    bm.Rec.Description = desc;
    TWriteContext ctx;
    ctx.Now = kNow;
    ctx.Tag.Album = QStringLiteral("Book");
    ctx.Tag.Track = QStringLiteral("03");
    ctx.Tag.Title = QStringLiteral("Part");
    QString error;
    Check(WriteBookmark(bm, p.store(), ctx, &error), error);
    return bm.Rec;
}

// The tree as a rebuild makes it: every live record under one author.
QVector<TTreeLine> TreeOfStore(const Paths& p) {
    QVector<TTreeLine> nodes{{0, QStringLiteral("Author")}};
    ForEachRecord(p.store(), [&](const TBookmarkRec& r) {
        if (!r.Deleted()) nodes.append({1, BookmarkNodeText(r.Description, r.RecNo)});
        return true;
    });
    return nodes;
}

void SaveTree(const Paths& p, const QVector<TTreeLine>& nodes) {
    QString error;
    Check(SaveTreeFile(p.tree(), nodes, &error), error);
}

void WriteLines(const QString& path, const QStringList& lines) {
    TSuperStringList list;
    list.append(lines);
    QString error;
    Check(list.SaveToFile(path, &error), error);
}

// ---------------------------------------------------------------- store set-up

// Twelve records over three files; record 4 is deleted. The file a.mp3 has
// records 2, 6 and 9 (record 6's path crosses the store's first 4 KiB).
void SetUpStore(const Paths& p) {
    TStoreCommand command(p.store());
    const QString files[3] = {p.books + "c.mp3", p.books + "d.mp3", p.books + "e.mp3"};
    for (int n = 1; n <= 12; ++n) {
        const bool a = n == 2 || n == 6 || n == 9;
        Add(p, a ? p.books + "a.mp3" : files[n % 3], n * 1000, QStringLiteral("mark %1").arg(n));
    }
    TBookmark gone(p.store(), 4);
    QString error;
    Check(MarkDeleted(gone, p.store(), kNow, &error), error);
    SaveTree(p, TreeOfStore(p));
    WriteLines(p.data + "Narrabel.hst", {p.books + "a.mp3", p.books + "c.mp3"});
    WriteLines(p.data + "Narrabel.rsm", {p.books + "a.mp3", "2000"});
    WriteLines(p.data + "Narrabel.nbh", {TBMHistory::EntryLine(p.books + "a.mp3", 2000)});
    QFile audio(p.books + "a.mp3");
    Check(audio.open(QIODevice::WriteOnly) && audio.write(QByteArray(5000, 'a')) == 5000,
          "cannot write a.mp3");
}

// ---------------------------------------------------------------- tag set-up

QByteArray AudioBytes(int size) {
    QByteArray b(size, '\0');
    uint32_t x = 2463534242u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x);
    }
    return b;
}

QString TagFile(const Paths& p) {
    return p.books + "t.mp3";
}

void SetTag(Tid3v2tag& t, const QString& title, const QString& comment) {
    Check(t.SetTextFrame("TIT2", title) == txtOk, "title");
    COMM c;
    c.Language = "ENG";
    c.Text = comment;
    Check(t.SetComment(c, QString(), "ENG") == txtOk, "comment");
}

// A file as a first save leaves it (its length a multiple of 4096), with a
// short or a long comment; unaligned adds 1000 bytes of audio behind.
void SetUpTag(const Paths& p, bool longComment, bool unaligned) {
    const QString file = TagFile(p);
    QFile f(file);
    Check(f.open(QIODevice::WriteOnly), "cannot create the audio file");
    f.write(AudioBytes((5 << 19) + 333)); // 2.5 MiB and a little: three blocks to copy
    f.close();
    Tid3v2tag t;
    t.LoadFromFile(file, 0); // no tag yet: the save puts one in front
    SetTag(t, "old title", longComment ? QString(10240, 'o') : QStringLiteral("old comment"));
    Check(t.SaveToFile("=", 3, 0, -1) < 256, "first save");
    if (unaligned) {
        Check(f.open(QIODevice::Append) && f.write(AudioBytes(1000)) == 1000, "append");
        f.close();
    }
    ::chmod(QFile::encodeName(file).constData(), 0640);
}

// An audio book of another format (made by ffmpeg), tagged "old title".
void SetUpBook(const Paths& p, const QString& name, const QStringList& codec) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                       "sine=frequency=440:duration=20", "-metadata",
                                       "title=old title", "-metadata", "artist=Someone"} +
                               codec + QStringList{p.books + name});
    Check(ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0,
          "ffmpeg: " + QString::fromUtf8(ffmpeg.readAllStandardError()));
    ::chmod(QFile::encodeName(p.books + name).constData(), 0640);
}

// Saves through the tag facade (a new copy renamed over the file).
void BookSave(const Paths& p, const QString& name) {
    TFileTag t = ReadFileTag(p.books + name);
    Check(t.Fields.Title == "old title", "the book's title reads \"" + t.Fields.Title + "\"");
    t.Fields.Title = "new title";
    t.Fields.Comment = QString(3000, 'n');
    const TTagSaveResult r = SaveFileTag(t);
    Check(r.Ok(), "save: " + r.Cause);
    std::printf("anew\n");
}

// ---------------------------------------------------------------- places set-up

// A places file of 50 files, the resume point, and the places log a run that
// was killed left beside them (a place it moved, and a file it began). The
// paths are the same in every trial: the log's records are checksummed.
const QString kPlacesBooks = QStringLiteral("/crash-test/books/");

void SetUpPlaces(const Paths& p) {
    TPlaces places(p.data + PlacesFileName());
    for (int i = 0; i < 50; ++i)
        places.Remember(kPlacesBooks + QStringLiteral("%1.mp3").arg(i), i * 1000, kNow);
    Check(places.Save(), "cannot write the places file");
    QFile log(places.LogPath());
    Check(log.open(QIODevice::WriteOnly) &&
              log.write(TPlaces::LogRecord({kPlacesBooks + "7.mp3", 77000, kNow, {}}) +
                        TPlaces::LogRecord({kPlacesBooks + "new.mp3", 5000, kNow, {}})) > 0,
          "cannot write the places log");
    WriteLines(p.data + "Narrabel.rsm", {kPlacesBooks + "3.mp3", "1000"});
}

// ---------------------------------------------------------------- operations

struct Op {
    const char* name;
    void (*setUp)(const Paths&);
    void (*run)(const Paths&);
};

// Saves the tag and says how: in place, or by writing the file anew.
void TagSave(const Paths& p, const QString& title, const QString& comment) {
    Tid3v2tag t;
    Check(t.LoadFromFile(TagFile(p), 0) < 256, "load");
    SetTag(t, title, comment);
    bool anew = false;
    t.OnProgress = [&] { anew = anew || t.StatusText() == "Re-positioning audio data"; };
    Check(t.SaveToFile("=", 255, 255, -1) < 256, "save: " + t.SaveProblem());
    std::printf("%s\n", anew ? "anew" : "in place");
}

const Op kOps[] = {
    {"add", SetUpStore,
     [](const Paths& p) {
         TStoreCommand command(p.store());
         QVector<TTreeLine> tree = TreeOfStore(p);
         const TBookmarkRec r = Add(p, p.books + "new.mp3", 5000, "made");
         tree.append({1, BookmarkNodeText(r.Description, r.RecNo)});
         SaveTree(p, tree);
     }},
    {"delete", SetUpStore,
     [](const Paths& p) {
         TStoreCommand command(p.store());
         command.Preserve({3, 7});
         for (int n : {3, 7}) {
             TBookmark bm(p.store(), n);
             QString error;
             Check(MarkDeleted(bm, p.store(), kNow, &error), error);
         }
         SaveTree(p, TreeOfStore(p));
     }},
    // Two records rewritten one after the other in one command: the second
    // one's old bytes are appended to a journal already begun.
    {"rewrite", SetUpStore,
     [](const Paths& p) {
         TStoreCommand command(p.store());
         for (int n : {3, 7}) {
             TBookmark bm(p.store(), n);
             bm.Rec.Description = QStringLiteral("renamed %1").arg(n);
             TWriteContext ctx;
             ctx.Now = kNow;
             QString error;
             Check(WriteBookmark(bm, p.store(), ctx, &error), error);
         }
         SaveTree(p, TreeOfStore(p));
     }},
    {"repoint", SetUpStore,
     [](const Paths& p) {
         QString error;
         Check(RepointBookmarks(p.store(), p.books + "a.mp3",
                                p.books + QString(60, 'z') + "/a new name.mp3", {}, &error) == 3,
               error);
     }},
    {"compact", SetUpStore,
     [](const Paths& p) {
         QString error;
         Check(CompactStore(p.store(), p.data + "!.tmp", {}, &error, {p.tree()}) ==
                   TCompactResult::Done,
               error);
         SaveTree(p, TreeOfStore(p)); // the rebuild that follows
     }},
    {"import", SetUpStore,
     [](const Paths& p) {
         TStoreCommand command(p.store());
         QVector<TTreeLine> tree = TreeOfStore(p);
         for (int i = 0; i < 200; ++i) {
             const TBookmarkRec r = Add(p, p.books + QStringLiteral("import/%1.mp3").arg(i), 1, {});
             tree.append({1, BookmarkNodeText(r.Description, r.RecNo)});
         }
         SaveTree(p, tree);
     }},
    {"tree", SetUpStore,
     [](const Paths& p) {
         QVector<TTreeLine> tree = TreeOfStore(p);
         tree.append({0, "Another author"});
         SaveTree(p, tree);
     }},
    {"state", SetUpStore,
     [](const Paths& p) {
         WriteLines(p.data + "Narrabel.hst", {p.books + "c.mp3", p.books + "a.mp3"});
         TBMHistory history(p.data + "Narrabel.nbh");
         history.Add(p.books + "d.mp3", 3000);
         QString error;
         Check(history.Save(&error), error);
         history.Path.clear();
     }},
    {"rename", SetUpStore,
     [](const Paths& p) {
         // What the main window does once the file has its new name: the
         // remembered paths follow, then the bookmarks.
         auto follow = [&](const QString& from, const QString& to) {
             for (const char* name : {"Narrabel.hst", "Narrabel.rsm"}) {
                 TSuperStringList lines;
                 lines.LoadFromFile(p.data + name);
                 for (QString& line : lines)
                     if (line == from) line = to;
                 WriteLines(p.data + name, lines);
             }
             TBMHistory history(p.data + "Narrabel.nbh");
             history.FollowRename(from, to);
             QString error;
             Check(history.Save(&error), error);
             history.Path.clear();
             Check(RepointBookmarks(p.store(), from, to, {}, &error) >= 0, error);
         };
         Check(RenameAndRepoint(p.store(), p.books + "a.mp3", p.books + "renamed.mp3", follow) ==
                   TRenameStatus::Ok,
               "rename");
     }},
    // The next start folds the log into the places file; its last place
    // becomes the resume point.
    {"places-fold", SetUpPlaces, [](const Paths& p) { RecoverWrites(p.data); }},
    // A place noted while a file plays: one more record in the log.
    {"places-note", SetUpPlaces,
     [](const Paths& p) {
         TPlaces places(p.data + PlacesFileName());
         places.Load();
         places.Remember(kPlacesBooks + "9.mp3", 123456, kNow);
         QString error;
         Check(places.WriteLog(&error), error);
     }},
    {"tag-grow", [](const Paths& p) { SetUpTag(p, false, false); },
     [](const Paths& p) { TagSave(p, "new title", QString(10240, 'n')); }},
    {"tag-shrink", [](const Paths& p) { SetUpTag(p, true, false); },
     [](const Paths& p) { TagSave(p, "new title", "new comment"); }},
    {"tag-same", [](const Paths& p) { SetUpTag(p, false, false); },
     [](const Paths& p) { TagSave(p, "new title", "new comment"); }},
    {"tag-grow-unaligned", [](const Paths& p) { SetUpTag(p, false, true); },
     [](const Paths& p) { TagSave(p, "new title", QString(10240, 'n')); }},
    {"tag-shrink-unaligned", [](const Paths& p) { SetUpTag(p, true, true); },
     [](const Paths& p) { TagSave(p, "new title", "new comment"); }},
    {"tag-m4b",
     [](const Paths& p) {
         SetUpBook(p, "b.m4b", {"-c:a", "aac", "-b:a", "32k", "-f", "ipod"});
     },
     [](const Paths& p) { BookSave(p, "b.m4b"); }},
    {"tag-opus",
     [](const Paths& p) {
         SetUpBook(p, "b.opus", {"-c:a", "libopus", "-b:a", "24k"});
     },
     [](const Paths& p) { BookSave(p, "b.opus"); }},
};

const Op* FindOp(const QString& name) {
    for (const Op& op : kOps)
        if (name == QLatin1String(op.name)) return &op;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() >= 2 && args[0] == "recover") {
        const QString data = QDir(args[1]).absolutePath() + "/data/";
        const QString said = args.size() >= 3 ? RecoverFile(args[2], data) : RecoverWrites(data);
        std::printf("%s\n", said.toUtf8().constData());
        return 0;
    }
    if (args.size() < 3 || (args[0] != "setup" && args[0] != "run" && args[0] != "op")) {
        std::fputs("usage: crashdriver setup|run|op OP DIR [BOOKS] | recover DIR [FILE]\n", stderr);
        return 2;
    }
    // "-tool" ops save as the command-line tool does: the journal beside the file.
    QString name = args[1];
    const bool tool = name.endsWith("-tool");
    if (tool) name.chop(5);
    const Op* op = FindOp(name);
    if (!op) Fail("no such operation: " + args[1]);
    Paths p;
    p.data = QDir(args[2]).absolutePath() + "/data/";
    p.books = (args.size() >= 4 ? QDir(args[3]).absolutePath()
                                : QDir(args[2]).absolutePath() + "/books") +
              "/";
    Check(QDir().mkpath(p.data) && QDir().mkpath(p.books), "cannot make the folders");
    if (args[0] != "op") op->setUp(p);
    if (args[0] == "setup") return 0;
    if (!tool) id3v2::SetJournalFolder(p.data);
    Arm();
    op->run(p);
    return 0;
}
