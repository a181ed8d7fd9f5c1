#include "bookmarks/bookmarkcommands.h"

#include "bookmarks/storejournal.h"
#include "tags/filetags.h"
#include "util/appstate.h"
#include "util/dialogs.h"
#include "util/errors.h"
#include "util/options.h"
#include "util/qorext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSet>
#include <exception>

namespace {

// Events run at the first step and then every 30 ms: often enough for a
// responsive window, rarely enough not to cost more than the work.
const int kEventsEveryMs = 30;
const int kFileEventsEveryMs = 100;

// The last imported folder: one line, CR LF, UTF-8.
const char* const kImportFile = "Narrabel.import";
constexpr qint64 kMaxImportFile = 64 * 1024;

} // namespace

TBookmarkCommands::TBookmarkCommands(TAppState& appState, TBookmarkTree& bookmarkTree,
                                     QObject* parent)
    : QObject(parent), app(appState), tree(bookmarkTree) {}

std::function<bool()> TBookmarkCommands::ThrottledEvents() {
    auto timer = std::make_shared<QElapsedTimer>();
    return [timer] {
        if (!timer->isValid() || timer->elapsed() >= kEventsEveryMs) {
            QCoreApplication::processEvents();
            timer->start();
        }
        return true;
    };
}

// ---------------------------------------------------------------- long operations

TBookmarkCommands::TLongOperation::TLongOperation(TBookmarkCommands& commands,
                                                  const QString& caption)
    : c(commands), previousCaption(commands.app.Caption()) {
    if (c.longOperations++ == 0) emit c.BusyChanged(true);
    c.app.SetCaption(caption);
}

TBookmarkCommands::TLongOperation::~TLongOperation() {
    if (--c.longOperations > 0) {
        c.app.SetCaption(previousCaption);
        return;
    }
    emit c.BusyChanged(false);
    c.app.SetCaption(QStringLiteral("Narrabel"));
}

// ---------------------------------------------------------------- records

void TBookmarkCommands::writeBookmark(TBookmark& bm, const TMP3Rec* tag) {
    TWriteContext ctx;
    ctx.Closing = app.Closing;
    // A bookmark made while a delete runs is no part of it: it is described as always.
    ctx.Deleting = Deleting && bm.Rec.RecNo != 0;
    ctx.AlwaysInsert = AppOptions().AlwaysInsert;
    ctx.AutoExtra = AppOptions().AutoExtra;
    ctx.EditList = app.EditList.get();
    if (DescriptionNeeded(bm.Rec, ctx)) {
        ctx.Tag = tag ? *tag : ReadFileTag(bm.Rec.FilePath).Fields;
    }
    QString error;
    if (!WriteBookmark(bm, app.StorePath, ctx, &error)) throw NarrabelError(error);
}

void TBookmarkCommands::markDeleted(TBookmark& bm) {
    QString error;
    if (!MarkDeleted(bm, app.StorePath, QDateTime::currentDateTime(), &error))
        throw NarrabelError(error);
}

TBookmark TBookmarkCommands::BookmarkFromNode(const Node* node) const {
    if (!node) return TBookmark();
    return TBookmark(app.StorePath, NodeRecordNumber(node->Text));
}

// ---------------------------------------------------------------- the tree

QString TBookmarkCommands::ApplyNameMap(const QString& name) {
    if (app.DataFolder.isEmpty()) return name;
    // The map is read again only when the file changed.
    static QString cachedPath;
    static QDateTime cachedTime;
    static qint64 cachedSize = -1;
    static TNameMap cached;
    const QString path = app.DataFile(MapFileName());
    QFileInfo fi(path);
    if (!fi.exists()) return name;
    if (path != cachedPath || fi.lastModified() != cachedTime || fi.size() != cachedSize) {
        cached = TNameMap::Load(path);
        cachedPath = path;
        cachedTime = fi.lastModified();
        cachedSize = fi.size();
    }
    return cached.Apply(name);
}

void TBookmarkCommands::AppendNameMap(const QString& oldName, const QString& newName) {
    if (app.DataFolder.isEmpty()) return;
    QString error;
    if (!::AppendNameMap(app.DataFile(MapFileName()), oldName, newName, &error))
        throw NarrabelError(error);
}

QString TBookmarkCommands::outerNameOf(const QString& path, const TMP3Rec* tag) {
    if (BatchAdding) {
        auto it = batchNames.constFind(path);
        if (it != batchNames.constEnd()) return *it;
    }
    QString name;
    name = tag ? tag->Artist : ReadFileTag(path).Fields.Artist;
    if (name.isEmpty()) name = path;
    name = ApplyNameMap(name);
    if (BatchAdding) batchNames.insert(path, name);
    return name;
}

void TBookmarkCommands::AddBookmarkNode(const TBookmarkRec& rec, const TMP3Rec* tag) {
    const QString name = outerNameOf(rec.FilePath, tag);
    const bool sortNow = !BatchAdding;
    Node* outer = tree.FindOuterNode(name);
    if (!outer) outer = tree.AddAuthor(name, sortNow);
    tree.AddBookmark(outer, BookmarkNodeText(rec.Description, rec.RecNo), sortNow);
    if (sortNow) SaveTreeFile();
}

TBookmarkCommands::Node* TBookmarkCommands::LatestChildNode(Node* outer) {
    if (!outer || outer->Children.empty()) return nullptr;
    QStringList texts;
    texts.reserve(int(outer->Children.size()));
    for (const Node* child : outer->Children)
        texts << child->Text;
    const int64_t n = BookmarkIndex(app.StorePath).LatestChildRecord(texts);
    // Only this author's bookmarks, by the number their texts end in: a text
    // anywhere else may still hold that number from before a compaction.
    for (Node* child : outer->Children)
        if (NodeRecordNumber(child->Text) == n) return child;
    return nullptr;
}

void TBookmarkCommands::SelectNodeByText(const QString& text) {
    if (Node* node = tree.FindByText(text)) tree.Select(node);
}

void TBookmarkCommands::SaveTreeFile() {
    if (app.DataFolder.isEmpty()) return;
    const QString path = app.DataFile(TreeFileName());
    if (treeIncomplete) {
        // The partial tree would hide the rest of the store at every start; an
        // older file would lack this change. Without one, the next start builds
        // the tree from the store, which holds every change.
        QFile::remove(path);
        return;
    }
    QString error;
    if (!::SaveTreeFile(path, tree.Lines(), &error)) {
        // An older file would bring back a tree without this change at the next
        // start; without one, the next start builds the tree from the store.
        QFile::remove(path);
        throw NarrabelError(error);
    }
}

void TBookmarkCommands::LoadTree() {
    if (app.StorePath.isEmpty() || !QFileInfo::exists(app.StorePath)) return;
    QVector<TTreeLine> lines;
    if (LoadTreeFile(app.DataFile(TreeFileName()), lines)) {
        tree.Load(lines);
        treeIncomplete = false;
        BookmarkIndex(app.StorePath); // paid once at start-up rather than by the first Browse
        return;
    }
    tree.Clear();
    treeIncomplete = true; // until every record has been read
    // The walk stops at the records that were there when it began: a bookmark
    // made meanwhile adds its own node and must not come back a second time.
    const int64_t count = StoreRecordCount(app.StorePath);
    bool stopped = false, read = false;
    QString error;
    {
        TLongOperation op(*this, QStringLiteral("Narrabel - Building tree view..."));
        QScopedValueRollback<bool> batch(BatchAdding, true);
        batchNames.clear();
        const auto step = ThrottledEvents();
        int64_t place = 0;
        read = ForEachRecord(
            app.StorePath,
            [&](const TBookmarkRec& rec) {
                if (++place > count) return false;
                step();
                if (app.Closing) {
                    stopped = true;
                    return false;
                }
                if (!rec.Deleted()) AddBookmarkNode(rec);
                return true;
            },
            &error);
        batchNames.clear();
    }
    if (stopped) return; // no tree file: the next start builds the tree again
    tree.Sort();
    if (read) {
        treeIncomplete = false;
        SaveTreeFile();
        BookmarkIndex(app.StorePath);
    } else {
        // A tree file of what could be read would hide the rest at every start.
        ShowDefaultError(error);
    }
    emit TreeRebuilt();
}

void TBookmarkCommands::removeNode(Node* node) {
    // Every bookmark node that leaves the tree by the user's Delete has its
    // record marked deleted first.
    if (Deleting) {
        for (Node* child : node->Children) {
            TBookmark bm = BookmarkFromNode(child);
            if (bm.Valid) markDeleted(bm);
        }
        if (node->IsBookmark()) {
            TBookmark bm = BookmarkFromNode(node);
            if (bm.Valid) markDeleted(bm);
        }
    }
    tree.Remove(node);
}

// ---------------------------------------------------------------- commands

QString TBookmarkCommands::BookmarkRefusal(const QString& path) const {
    if (app.StorePath.isEmpty()) return NoDataFolderMessage();
    if (!PathFitsStore(path)) return PathTooLongMessage();
    return {};
}

void TBookmarkCommands::SaveNewBookmark(const QString& path, int32_t position,
                                        const QString& description) {
    if (const QString refusal = BookmarkRefusal(path); !refusal.isEmpty())
        throw NarrabelError(refusal);
    TStoreCommand command(app.StorePath); // the record and the tree file saved with its node
    TBookmark bm;
    bm.Rec.RecNo = 0;
    bm.Rec.FilePath = path;
    bm.Rec.Description = CutUtf8(description, TBookmarkRec::PathCapacity);
    bm.Rec.Position = position;
    // One read of the tag serves the description and the author.
    TMP3Rec tag;
    const TMP3Rec* read = nullptr;
    lastTagUnreadable = false;
    if (!app.Closing) {
        const TFileTag file = ReadFileTag(path);
        tag = file.Fields;
        read = &tag;
        lastTagUnreadable = file.Unreadable;
    }
    writeBookmark(bm, read);
    AddBookmarkNode(bm.Rec, read);
    if (!BatchAdding) SelectNodeByText(BookmarkNodeText(bm.Rec.Description, bm.Rec.RecNo));
    emit BookmarkStored();
}

QString TBookmarkCommands::FindOrAddStartBookmark(const QString& path, TStartBookmark* outcome,
                                                  QString* refusal) {
    TStartBookmark ignored = TStartBookmark::NotStored;
    TStartBookmark& out = outcome ? *outcome : ignored;
    out = TStartBookmark::NotStored;
    if (refusal) refusal->clear();
    if (const QString why = BookmarkRefusal(path); !why.isEmpty()) {
        if (refusal) *refusal = why;
        return {};
    }
    // The last node in tree order whose record names this file wins; the
    // store's index and the tree's lookups stand in for reading every record.
    QString result;
    if (QFileInfo::exists(app.StorePath)) {
        const TBookmarkIndex& index = BookmarkIndex(app.StorePath);
        Node* best = nullptr;
        QPair<int, int> bestPos(-1, -1);
        for (int32_t recNo : index.LiveRecordsOf(path)) {
            Node* node = tree.FindByRecNo(recNo);
            if (!node || !node->Parent) continue;
            const QPair<int, int> pos(tree.IndexOf(node->Parent), tree.IndexOf(node));
            if (pos > bestPos) {
                bestPos = pos;
                best = node;
            }
        }
        if (best) {
            if (const TBookmarkRec* rec = index.At(NodeRecordNumber(best->Text)))
                result = rec->Description;
        }
    }
    if (!result.isEmpty()) {
        out = TStartBookmark::Found;
        return result;
    }
    SaveNewBookmark(path, 1, QString());
    out = TStartBookmark::Added;
    return {};
}

bool TBookmarkCommands::OnlyStartBookmark(const QString& path) const {
    if (!QFileInfo::exists(app.StorePath)) return false;
    const TBookmarkIndex& index = BookmarkIndex(app.StorePath);
    const QVector<int32_t> live = index.LiveRecordsOf(path);
    const TBookmarkRec* rec = live.size() == 1 ? index.At(live.first()) : nullptr;
    return rec && rec->Position == 1;
}

void TBookmarkCommands::RenameSelected() {
    if (LongOperationRunning()) return;
    Node* node = tree.CurrentSelected();
    if (!node) return;
    if (node->IsBookmark()) {
        TBookmark bm = BookmarkFromNode(node);
        if (!bm.Valid || bm.Rec.Deleted()) {
            ShowMessage(QStringLiteral("lookup failed: ") + node->Text);
            return;
        }
        std::optional<QString> entry =
            Dlg().Input(QStringLiteral("Rename Bookmark"), QStringLiteral("Alias/Description"),
                        bm.Rec.Description);
        if (!entry || !tree.Contains(node)) return;
        bm.Rec.Description = CutUtf8(*entry, TBookmarkRec::PathCapacity);
        TStoreCommand command(app.StorePath);
        writeBookmark(bm);
        tree.SetText(node, BookmarkNodeText(bm.Rec.Description, bm.Rec.RecNo));
        tree.Select(node, false);
        SaveTreeFile();
        return;
    }
    std::optional<QString> entry = Dlg().Input(QStringLiteral("Rename outer node"),
                                               QStringLiteral("Artist/Author"), node->Text);
    if (!entry || entry->trimmed().isEmpty() || !tree.Contains(node)) return;
    AppendNameMap(node->Text, *entry);
    tree.SetText(node, *entry);
    tree.Select(node, false);
    SaveTreeFile();
}

void TBookmarkCommands::DeleteSelected() {
    if (LongOperationRunning()) return;
    const QList<Node*> selected = tree.Selected();
    if (selected.isEmpty()) return;
    if (!AskYesNo(QStringLiteral("Delete selected item(s)?"))) return;
    TStoreCommand command(app.StorePath); // every record marked, and the tree file saved after
    QString reselect;
    Node* focused = tree.CurrentSelected();
    if (!focused) focused = selected.last();
    if (tree.Contains(focused)) {
        const int i = tree.IndexOf(focused);
        const std::vector<Node*>& siblings =
            focused->Parent ? focused->Parent->Children : tree.Authors();
        if (i > 0)
            reselect = siblings[size_t(i) - 1]->Text;
        else if (focused->Parent)
            reselect = focused->Parent->Text;
    }
    {
        TLongOperation op(*this, QStringLiteral("Narrabel - Removing tree items..."));
        QScopedValueRollback<bool> deleting(Deleting, true);
        // What goes is fixed now: the selected nodes with the bookmarks of the
        // selected authors. A bookmark made meanwhile is not among them and keeps
        // its author (nodes are only ever added while this runs).
        const QSet<Node*> chosen(selected.begin(), selected.end());
        struct Target {
            Node* node;
            std::vector<Node*> children; // an author's bookmarks when the delete began
        };
        std::vector<Target> targets;
        for (Node* node : tree.AllNodes()) {
            if (!chosen.contains(node) || (node->Parent && chosen.contains(node->Parent))) continue;
            targets.push_back({node, node->Children});
        }
        // Their records are journalled at once: one sync, not one per record.
        QVector<int32_t> records;
        for (const Target& t : targets) {
            if (t.node->IsBookmark()) records << int32_t(NodeRecordNumber(t.node->Text));
            for (const Node* child : t.children)
                records << int32_t(NodeRecordNumber(child->Text));
        }
        command.Preserve(records);
        const auto step = ThrottledEvents();
        for (auto t = targets.rbegin(); t != targets.rend(); ++t) {
            step();
            if (!tree.Contains(t->node)) continue;
            if (t->node->Children.size() == t->children.size()) {
                removeNode(t->node);
            } else {
                for (Node* child : t->children)
                    if (tree.Contains(child)) removeNode(child);
            }
        }
    }
    SaveTreeFile();
    if (!reselect.isEmpty()) SelectNodeByText(reselect);
}

void TBookmarkCommands::Compact() {
    if (LongOperationRunning()) return;
    if (app.StorePath.isEmpty()) {
        ShowMessage(NoDataFolderMessage());
        return;
    }
    if (!AskYesNo(QStringLiteral("Rebuild database and tree view (application remains usable)?")))
        return;
    CompactStore();
    if (!app.Closing) ShowMessage(QStringLiteral("Finished compacting bookmarks."));
}

void TBookmarkCommands::CompactStore() {
    if (app.StorePath.isEmpty() || !QFileInfo::exists(app.StorePath)) return;
    TLongOperation op(*this, QStringLiteral("Narrabel - Compacting bookmarks..."));
    const QString treeFile = app.DataFile(TreeFileName());
    QString error;
    // The tree file names records by their old numbers: it goes before the
    // renumbered store takes the old one's place.
    const TCompactResult r = ::CompactStore(app.StorePath, app.DataFile(QStringLiteral("!.tmp")),
                                            ThrottledEvents(), &error, {treeFile});
    if (r == TCompactResult::Failed) {
        // The store is as it was, and so is the tree: keep it on disk.
        try {
            if (!QFileInfo::exists(treeFile)) SaveTreeFile();
        } catch (const std::exception&) {
            // Without a tree file the next start builds the tree from the store.
        }
        throw NarrabelError(error);
    }
    tree.Clear();
    LoadTree();
}

void TBookmarkCommands::RepointBookmarks(const QString& oldPath, const QString& newPath) {
    if (!HasLiveBookmarks(app.StorePath, oldPath)) return;
    TLongOperation op(*this, QStringLiteral("Narrabel - Repointing bookmarks..."));
    QString error;
    if (::RepointBookmarks(app.StorePath, oldPath, newPath, ThrottledEvents(), &error) < 0)
        throw NarrabelError(error);
}

void TBookmarkCommands::DeleteBookmarksOfFile(const QString& path) {
    TStoreCommand command(app.StorePath);
    if (!app.StorePath.isEmpty())
        command.Preserve(BookmarkIndex(app.StorePath).LiveRecordsOf(path));
    const std::vector<Node*> order = tree.AllNodes();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        Node* node = *it;
        if (node->IsBookmark()) {
            TBookmark bm = BookmarkFromNode(node);
            if (bm.Valid && bm.Rec.FilePath == path) {
                markDeleted(bm);
                tree.Remove(node);
            }
        } else if (node->Children.empty()) {
            tree.Remove(node); // an author left without bookmarks
        }
    }
    SaveTreeFile();
}

bool TBookmarkCommands::RepointMissing(TBookmark& bookmark, const QString& newPath) {
    if (!PathFitsStore(newPath)) {
        ShowMessage(PathTooLongMessage());
        return false;
    }
    bookmark.Rec.FilePath = newPath;
    writeBookmark(bookmark);
    return true;
}

void TBookmarkCommands::DeleteMissing(TBookmark& bookmark, Node* node) {
    TStoreCommand command(app.StorePath);
    markDeleted(bookmark);
    if (!tree.Contains(node)) return;
    Node* parent = node->Parent;
    const bool only = parent && parent->Children.size() == 1;
    // The author goes with its only bookmark; the store keeps the record marked.
    tree.Remove(only ? parent : node);
    SaveTreeFile();
}

// ---------------------------------------------------------------- import

void TBookmarkCommands::scanFolder(const QString& folder, const TImportHooks& hooks,
                                   TImportCounts& counts, QString& skippedReason,
                                   const TScanStep& step) {
    if ((hooks.Stop && hooks.Stop()) || app.Closing) return;
    QDir::setCurrent(folder);
    step(folder, QString());
    const QString base = folder.endsWith('/') ? folder : folder + '/';
    QDir dir(folder);
    dir.setSorting(QDir::Unsorted);
    // Linked folders are not followed: a link back up the tree would never end.
    dir.setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : dir.entryList()) {
        scanFolder(base + name, hooks, counts, skippedReason, step);
        QDir::setCurrent(folder);
    }
    dir.setFilter(QDir::Files);
    for (const QString& name : dir.entryList()) {
        const QString path = base + name;
        if (!IsPlayableFile(path)) continue;
        TStartBookmark outcome;
        QString refusal;
        FindOrAddStartBookmark(path, &outcome, &refusal);
        if (outcome == TStartBookmark::Added) {
            // A file whose tags could not be read is stored as designed, under
            // its path, and counted apart.
            ++counts.New;
            if (lastTagUnreadable) {
                ++counts.Unreadable;
            } else {
                importAuthors.insert(outerNameOf(path, nullptr));
                counts.Authors = int(importAuthors.size());
            }
        } else if (outcome == TStartBookmark::Found) {
            ++counts.Known;
        } else if (outcome == TStartBookmark::NotStored) {
            ++counts.Skipped;
            skippedReason = refusal;
        }
        ++counts.Files;
        step(folder, name);
    }
}

TBookmarkCommands::TImportCounts TBookmarkCommands::Import(const QString& folder,
                                                           const TImportHooks& hooks,
                                                           QString* skippedReason) {
    TImportCounts counts;
    QString skipped;
    TStoreCommand command(app.StorePath); // one sync for the import, its tree file included
    std::exception_ptr failure;
    {
        TLongOperation op(*this, QStringLiteral("Narrabel - Importing bookmarks..."));
        QScopedValueRollback<bool> batch(BatchAdding, true);
        batchNames.clear();
        importAuthors.clear();
        const QString oldCurrent = QDir::currentPath();
        QString current = folder, last;
        QElapsedTimer sinceEvents;
        // Events run where each folder begins, and within a long folder every
        // 100 ms, so that the window stays responsive and Cancel is heard.
        const TScanStep step = [&](const QString& in, const QString& file) {
            current = in;
            if (!file.isNull()) {
                last = file;
                if (sinceEvents.isValid() && sinceEvents.elapsed() < kFileEventsEveryMs) return;
            }
            if (hooks.Progress) hooks.Progress(current, last, counts);
            QCoreApplication::processEvents();
            sinceEvents.start();
        };
        try {
            scanFolder(folder, hooks, counts, skipped, step);
        } catch (...) {
            failure = std::current_exception(); // reported once the tree is in order
        }
        batchNames.clear();
        QDir::setCurrent(oldCurrent);
        if (hooks.Progress) hooks.Progress(current, last, counts);
    }
    // The next import starts where this one did; losing that is no failure.
    if (!app.DataFolder.isEmpty())
        ReplaceFile(app.DataFile(QLatin1String(kImportFile)), folder.toUtf8() + "\r\n");
    // The bookmarks stored so far are in the tree: it is shown closed, sorted
    // and saved however the scan ended, so they are there at the next start too.
    tree.CollapseAll();
    tree.Sort();
    try {
        SaveTreeFile();
    } catch (...) {
        if (!failure) throw;
    }
    if (failure) std::rethrow_exception(failure);
    if (skippedReason) *skippedReason = skipped;
    return counts;
}

QString TBookmarkCommands::LastImportFolder() const {
    if (app.DataFolder.isEmpty()) return {};
    QFile f(app.DataFile(QLatin1String(kImportFile)));
    if (f.size() > kMaxImportFile || !f.open(QIODevice::ReadOnly)) return {};
    const QString folder =
        QString::fromUtf8(f.readAll()).section(QLatin1Char('\n'), 0, 0).trimmed();
    return QFileInfo(folder).isDir() ? folder : QString();
}

QString TBookmarkCommands::ImportSummary(const TImportCounts& counts) {
    const auto n = [](int v) { return FormatThousands(QString::number(v)); };
    const int added = counts.New - counts.Unreadable;
    return QStringLiteral("%1 new %2 by %3 %4; %5 already known; %6 could not be read")
        .arg(n(added), added == 1 ? QStringLiteral("file") : QStringLiteral("files"),
             n(counts.Authors),
             counts.Authors == 1 ? QStringLiteral("author") : QStringLiteral("authors"),
             n(counts.Known), n(counts.Unreadable));
}
