// Bookmark commands: create, go, rename, delete, compact, repoint.

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/storejournal.h"
#include "bookmarks/tfrmbm.h"
#include "bookmarks/tfrmimport.h"
#include "bookmarks/tfrmmissing.h"
#include "bookmarks/treefile.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "tags/mp3.h"
#include "tags/tfrmedit.h"
#include "util/errors.h"
#include "util/options.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTreeWidget>

namespace {

const QString kNoDataFolder =
    QStringLiteral("Bookmarks cannot be saved until the data folder can be created.");

} // namespace

std::function<bool()> TfrmMain::throttledEvents() {
    // Events run at the first step and then every 30 ms: often enough for a
    // responsive window, rarely enough not to cost more than the work.
    auto timer = std::make_shared<QElapsedTimer>();
    return [timer] {
        if (!timer->isValid() || timer->elapsed() >= 30) {
            QCoreApplication::processEvents();
            timer->start();
        }
        return true;
    };
}

// ---------------------------------------------------------------- long operations

TfrmMain::TLongOperation::TLongOperation(TfrmMain* window, const QString& caption)
    : w(window), previousCaption(window->windowTitle()) {
    if (w->longOperations++ == 0) w->lockCommands(true);
    w->setWindowTitle(caption);
}

TfrmMain::TLongOperation::~TLongOperation() {
    if (--w->longOperations > 0) {
        w->setWindowTitle(previousCaption);
        return;
    }
    w->lockCommands(false);
    w->setWindowTitle(QStringLiteral("Narrabel"));
}

void TfrmMain::lockCommands(bool lock) {
    if (!lock) {
        for (const auto& [widget, enabled] : lockedWidgets)
            if (widget) widget->setEnabled(enabled);
        for (const auto& [action, enabled] : lockedActions)
            if (action) action->setEnabled(enabled);
        lockedWidgets.clear();
        lockedActions.clear();
        return;
    }
    QList<QWidget*> widgets{cmdRename, cmdDelBM, cmdCompact, cmdImport, cmdTagEditor};
    if (frmImport) widgets << frmImport->cmdOk;
    if (frmMissing) widgets << frmMissing->cmdRepoint << frmMissing->cmdDelete;
    // The tag editor deletes files with their bookmarks and renames them.
    if (frmEdit) widgets << frmEdit;
    for (QWidget* widget : widgets) {
        lockedWidgets.append({widget, !widget->testAttribute(Qt::WA_ForceDisabled)});
        widget->setEnabled(false);
    }
    for (QAction* action : pop->actions()) {
        static const QStringList names{"mnuRename", "mnuDelBM", "mnuCompact", "mnuImport",
                                       "mnuEditTag"};
        if (!names.contains(action->objectName())) continue;
        lockedActions.append({action, action->isEnabled()});
        action->setEnabled(false);
    }
}

// ---------------------------------------------------------------- commands

QString TfrmMain::BookmarkRefusal(const QString& path) const {
    if (StorePath.isEmpty()) return kNoDataFolder;
    if (!PathFitsStore(path)) return PathTooLongMessage();
    return {};
}

// Stores a bookmark record with the main window's flags and switches.
static void writeBookmark(TfrmMain* w, TBookmark& bm) {
    TWriteContext ctx;
    ctx.Closing = w->Closing;
    // A bookmark made while a delete runs is no part of it: it is described as always.
    ctx.Deleting = w->Deleting && bm.Rec.RecNo != 0;
    ctx.AlwaysInsert = AppOptions().AlwaysInsert;
    ctx.AutoExtra = AppOptions().AutoExtra;
    ctx.EditList = w->EditList.get();
    if (DescriptionNeeded(bm.Rec, ctx)) {
        ReadTag(bm.Rec.FilePath);
        ctx.Tag = CurrentTag();
    }
    QString error;
    if (!WriteBookmark(bm, w->StorePath, ctx, &error)) throw NarrabelError(error);
}

static void markDeleted(TfrmMain* w, TBookmark& bm) {
    QString error;
    if (!MarkDeleted(bm, w->StorePath, QDateTime::currentDateTime(), &error))
        throw NarrabelError(error);
}

void TfrmMain::cmdBookmarkClick() {
    const QString file = cmbFile->currentText();
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        ShowMessage(QStringLiteral("Please open a valid media file."));
        return;
    }
    if (const QString refusal = BookmarkRefusal(file); !refusal.isEmpty()) {
        ShowMessage(refusal);
        return;
    }
    frmBM->pnlPos->setText(FormatThousands(QString::number(mp->Position())) + QStringLiteral(" (") +
                           StatusText(1) + QStringLiteral(")"));
    frmBM->pnlFile->setText(ExtractFileName(file));
    frmBM->exec();
}

void TfrmMain::SaveNewBookmark(const QString& path, int32_t position, const QString& description) {
    if (const QString refusal = BookmarkRefusal(path); !refusal.isEmpty())
        throw NarrabelError(refusal);
    TStoreCommand command(StorePath); // the record and the tree file saved with its node
    TBookmark bm;
    bm.Rec.RecNo = 0;
    bm.Rec.FilePath = path;
    bm.Rec.Description = CutUtf8(description, TBookmarkRec::PathCapacity);
    bm.Rec.Position = position;
    writeBookmark(this, bm);
    AddBookmarkNode(bm.Rec);
    if (!BatchAdding) SelectNodeByText(BookmarkNodeText(bm.Rec.Description, bm.Rec.RecNo));
    PlayedSinceMark = false;
    LastMarkTime = QDateTime::currentDateTime();
}

QString TfrmMain::FindOrAddStartBookmark(const QString& path, TStartBookmark* outcome,
                                         QString* refusal) {
    TStartBookmark ignored;
    TStartBookmark& out = outcome ? *outcome : ignored;
    out = TStartBookmark::NotStored;
    if (refusal) refusal->clear();
    if (const QString why = BookmarkRefusal(path); !why.isEmpty()) {
        if (refusal) *refusal = why;
        return {};
    }
    // The last node in tree order whose record names this file wins; the
    // store's index and the node cache stand in for reading every record.
    QString result;
    if (QFileInfo::exists(StorePath)) {
        const TBookmarkIndex& index = BookmarkIndex(StorePath);
        if (!treeCachesValid) rebuildTreeCaches();
        QTreeWidgetItem* best = nullptr;
        QPair<int, int> bestPos(-1, -1);
        for (int32_t recNo : index.LiveRecordsOf(path)) {
            QTreeWidgetItem* node = nodeByRecNo.value(recNo, nullptr);
            if (!node || !node->parent()) continue;
            const QPair<int, int> pos(tv->indexOfTopLevelItem(node->parent()),
                                      node->parent()->indexOfChild(node));
            if (pos > bestPos) {
                bestPos = pos;
                best = node;
            }
        }
        if (best) {
            if (const TBookmarkRec* rec = index.At(::NodeRecordNumber(best->text(0))))
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

void TfrmMain::tvDblClick() {
    GoToSelectedBookmark();
}

void TfrmMain::GoToSelectedBookmark() {
    QTreeWidgetItem* node = tv->currentItem();
    if (!node || !node->isSelected()) {
        const auto sel = tv->selectedItems();
        if (sel.isEmpty()) return;
        node = sel.first();
    }
    AskBookmarkProgress();
    if (!IsBookmarkNode(node)) {
        node = LatestChildNode(node);
        if (!node) return;
        tv->clearSelection();
        tv->setCurrentItem(node);
        node->setSelected(true);
    }
    std::unique_ptr<TBookmark> bm = BookmarkFromNode(node);
    // A node whose record was deleted is a leftover, never a file to look for.
    if (!bm->Valid || bm->Rec.Deleted()) {
        ShowMessage(QStringLiteral("lookup failed: ") + node->text(0));
        return;
    }
    if (QFileInfo(bm->Rec.FilePath).isFile()) {
        cmbFile->setEditText(bm->Rec.FilePath);
        OpenCurrentFile();
        PlayFrom(bm->Rec.Position);
        History->AddBookmark(*bm);
        return;
    }
    // The audio file has gone: repoint, delete or leave this bookmark.
    SetStatus(0, QStringLiteral("Error"));
    frmMissing->Fill(bm->Rec.FilePath, bm->Rec.Stamp, bm->Rec.Position);
    switch (frmMissing->Ask()) {
    case TfrmMissing::Ignore:
        break;
    case TfrmMissing::Repoint: {
        std::optional<QString> chosen =
            Dlg().OpenFile(this, QStringLiteral("Open"), ExtractFilePath(bm->Rec.FilePath),
                           DlgOpenFilter(), AppOptions().MoreFormats ? 2 : 1);
        if (!chosen) break;
        if (!PathFitsStore(*chosen)) {
            ShowMessage(PathTooLongMessage());
            break;
        }
        bm->Rec.FilePath = *chosen;
        writeBookmark(this, *bm);
        GoToSelectedBookmark();
        break;
    }
    case TfrmMissing::Delete: {
        TStoreCommand command(StorePath);
        markDeleted(this, *bm);
        QTreeWidgetItem* parent = node->parent();
        const bool only = parent && parent->childCount() == 1;
        // The author goes with its only bookmark; the store keeps the record marked.
        delete (only ? parent : node);
        noteTreeChanged();
        SaveTreeFile();
        break;
    }
    }
}

void TfrmMain::cmdRenameClick() {
    if (LongOperationRunning()) return;
    QTreeWidgetItem* node = tv->currentItem();
    if (!node || !node->isSelected()) return;
    if (IsBookmarkNode(node)) {
        std::unique_ptr<TBookmark> bm = BookmarkFromNode(node);
        if (!bm->Valid || bm->Rec.Deleted()) {
            ShowMessage(QStringLiteral("lookup failed: ") + node->text(0));
            return;
        }
        std::optional<QString> entry =
            Dlg().Input(this, QStringLiteral("Rename Bookmark"),
                        QStringLiteral("Alias/Description"), bm->Rec.Description);
        if (!entry) return;
        bm->Rec.Description = CutUtf8(*entry, TBookmarkRec::PathCapacity);
        TStoreCommand command(StorePath);
        writeBookmark(this, *bm);
        QTreeWidgetItem* parent = node->parent();
        parent->removeChild(node);
        node->setText(0, BookmarkNodeText(bm->Rec.Description, bm->Rec.RecNo));
        insertSorted(parent, node);
        noteTreeChanged();
        tv->setCurrentItem(node);
        node->setSelected(true);
        SaveTreeFile();
        return;
    }
    std::optional<QString> entry = Dlg().Input(this, QStringLiteral("Rename outer node"),
                                               QStringLiteral("Artist/Author"), node->text(0));
    if (!entry || entry->trimmed().isEmpty()) return;
    AppendNameMap(node->text(0), *entry);
    const int index = tv->indexOfTopLevelItem(node);
    tv->takeTopLevelItem(index);
    node->setText(0, *entry);
    insertSorted(nullptr, node);
    noteTreeChanged();
    tv->setCurrentItem(node);
    node->setSelected(true);
    SaveTreeFile();
}

void TfrmMain::tvDeletion(QTreeWidgetItem* node) {
    if (!Deleting || !IsBookmarkNode(node)) return;
    std::unique_ptr<TBookmark> bm = BookmarkFromNode(node);
    if (bm->Valid) markDeleted(this, *bm);
}

void TfrmMain::mnuDelBMClick() {
    if (LongOperationRunning()) return;
    QList<QTreeWidgetItem*> selected = tv->selectedItems();
    if (selected.isEmpty()) return;
    if (!AskYesNo(QStringLiteral("Delete selected item(s)?"))) return;
    TStoreCommand command(StorePath); // every record marked, and the tree file saved after
    QString reselect;
    QTreeWidgetItem* focused = tv->currentItem();
    if (!focused || !focused->isSelected()) focused = selected.last();
    {
        QTreeWidgetItem* parent = focused->parent();
        const int i = parent ? parent->indexOfChild(focused) : tv->indexOfTopLevelItem(focused);
        QTreeWidgetItem* prev =
            i > 0 ? (parent ? parent->child(i - 1) : tv->topLevelItem(i - 1)) : nullptr;
        if (prev)
            reselect = prev->text(0);
        else if (parent)
            reselect = parent->text(0);
    }
    {
        TLongOperation op(this, QStringLiteral("Narrabel - Removing tree items..."));
        QScopedValueRollback<bool> deleting(Deleting, true);
        // What goes is fixed now: the selected nodes with the bookmarks of the
        // selected authors. A bookmark made meanwhile is not among them and keeps
        // its author (nodes are only ever added while this runs).
        const QSet<QTreeWidgetItem*> chosen(selected.begin(), selected.end());
        struct Target {
            QTreeWidgetItem* node;
            QList<QTreeWidgetItem*> children; // an author's bookmarks when the delete began
        };
        QList<Target> targets;
        for (QTreeWidgetItem* node : AllNodes()) {
            if (!chosen.contains(node) || (node->parent() && chosen.contains(node->parent())))
                continue;
            Target t{node, {}};
            for (int i = 0; i < node->childCount(); ++i)
                t.children.append(node->child(i));
            targets.append(t);
        }
        // Their records are journalled at once: one sync, not one per record.
        QVector<int32_t> records;
        for (const Target& t : targets)
            for (QTreeWidgetItem* n : QList<QTreeWidgetItem*>{t.node} + t.children)
                if (IsBookmarkNode(n)) records << int32_t(::NodeRecordNumber(n->text(0)));
        command.Preserve(records);
        const auto step = throttledEvents();
        for (int i = int(targets.size()) - 1; i >= 0; --i) {
            step();
            const Target& t = targets[i];
            if (t.node->childCount() == t.children.size()) {
                removeNode(t.node);
            } else {
                for (QTreeWidgetItem* child : t.children)
                    removeNode(child);
            }
        }
    }
    SaveTreeFile();
    if (!reselect.isEmpty()) SelectNodeByText(reselect);
}

void TfrmMain::cmdCompactClick() {
    if (LongOperationRunning()) return;
    if (StorePath.isEmpty()) {
        ShowMessage(kNoDataFolder);
        return;
    }
    if (!AskYesNo(QStringLiteral("Rebuild database and tree view (application remains usable)?")))
        return;
    CompactStore();
    if (!Closing) ShowMessage(QStringLiteral("Finished compacting bookmarks."));
}

void TfrmMain::CompactStore() {
    if (StorePath.isEmpty() || !QFileInfo::exists(StorePath)) return;
    TLongOperation op(this, QStringLiteral("Narrabel - Compacting bookmarks..."));
    const QString treeFile = DataFolder + TreeFileName();
    QString error;
    // The tree file names records by their old numbers: it goes before the
    // renumbered store takes the old one's place.
    const TCompactResult r = ::CompactStore(StorePath, DataFolder + QStringLiteral("!.tmp"),
                                            throttledEvents(), &error, {treeFile});
    if (r == TCompactResult::Failed) {
        // The store is as it was, and so is the tree on screen: keep it on disk.
        try {
            if (!QFileInfo::exists(treeFile)) SaveTreeFile();
        } catch (const std::exception&) {
            // Without a tree file the next start builds the tree from the store.
        }
        throw NarrabelError(error);
    }
    tv->clear();
    noteTreeChanged();
    LoadTree();
}

void TfrmMain::RepointBookmarks(const QString& oldPath, const QString& newPath) {
    if (!HasLiveBookmarks(StorePath, oldPath)) return;
    TLongOperation op(this, QStringLiteral("Narrabel - Repointing bookmarks..."));
    QString error;
    if (::RepointBookmarks(StorePath, oldPath, newPath, throttledEvents(), &error) < 0)
        throw NarrabelError(error);
}

void TfrmMain::AppendNameMap(const QString& oldName, const QString& newName) {
    if (DataFolder.isEmpty()) return;
    QString error;
    if (!::AppendNameMap(DataFolder + MapFileName(), oldName, newName, &error))
        throw NarrabelError(error);
}

void TfrmMain::mnuImportClick() {
    if (LongOperationRunning()) return;
    if (StorePath.isEmpty()) {
        ShowMessage(kNoDataFolder);
        return;
    }
    frmImport->show();
    frmImport->raise();
    frmImport->activateWindow();
}

void TfrmMain::cmdTagEditorClick() {
    if (LongOperationRunning()) return;
    const QString file = TrimCtl(cmbFile->currentText());
    if (!file.isEmpty()) {
        frmEdit->OpenOn(file);
        return;
    }
    if (!tv->selectedItems().isEmpty()) {
        mnuEditTagClick();
        return;
    }
    frmEdit->TargetName.clear();
    frmEdit->Open();
}

void TfrmMain::mnuEditTagClick() {
    if (LongOperationRunning()) return;
    QTreeWidgetItem* node = tv->currentItem();
    if (!node || !node->isSelected()) {
        const auto sel = tv->selectedItems();
        if (sel.isEmpty()) return;
        node = sel.first();
    }
    frmEdit->TargetName.clear();
    QTreeWidgetItem* source = IsBookmarkNode(node) ? node : node->child(0);
    QString file;
    if (source) {
        try {
            std::unique_ptr<TBookmark> bm = BookmarkFromNode(source);
            if (bm->Valid) file = bm->Rec.FilePath;
        } catch (const std::exception&) {
            // An unreadable store only means the editor opens where it was.
        }
    }
    if (file.isEmpty())
        frmEdit->Open();
    else
        frmEdit->OpenOn(file);
}

void TfrmMain::DeleteBookmarksOfFile(const QString& path) {
    TStoreCommand command(StorePath);
    if (!StorePath.isEmpty()) command.Preserve(BookmarkIndex(StorePath).LiveRecordsOf(path));
    QList<QTreeWidgetItem*> order = AllNodes();
    for (int i = order.size() - 1; i >= 0; --i) {
        QTreeWidgetItem* node = order[i];
        if (IsBookmarkNode(node)) {
            std::unique_ptr<TBookmark> bm = BookmarkFromNode(node);
            if (bm->Valid && bm->Rec.FilePath == path) {
                markDeleted(this, *bm);
                delete node;
            }
        } else if (node->childCount() == 0) {
            delete node; // an author left without bookmarks
        }
    }
    noteTreeChanged();
    SaveTreeFile();
}
