// Bookmark commands: create, go, rename, delete, compact, repoint.

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
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

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace {

// Lets the window process pending events now and then during bulk work.
TStep throttledEvents() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] {
        if (timer->elapsed() >= 30) {
            QCoreApplication::processEvents();
            timer->restart();
        }
        return true;
    };
}

} // namespace

// Stores a bookmark record with the main window's flags and switches.
static void writeBookmark(TfrmMain* w, TBookmark& bm) {
    TWriteContext ctx;
    ctx.Closing = w->Closing;
    ctx.Deleting = w->Deleting;
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
    frmBM->pnlPos->setText(FormatThousands(QString::number(mp->Position())) + QStringLiteral(" (") +
                           StatusText(1) + QStringLiteral(")"));
    frmBM->pnlFile->setText(ExtractFileName(file));
    frmBM->exec();
}

void TfrmMain::SaveNewBookmark(const QString& path, int32_t position, const QString& description) {
    if (StorePath.isEmpty())
        throw NarrabelError(QStringLiteral("No data folder: bookmarks cannot be saved."));
    TBookmark bm;
    bm.Rec.RecNo = 0;
    bm.Rec.FilePath = CutUtf8(path, TBookmarkRec::PathCapacity);
    bm.Rec.Description = CutUtf8(description, TBookmarkRec::PathCapacity);
    bm.Rec.Position = position;
    writeBookmark(this, bm);
    AddBookmarkNode(bm.Rec);
    if (!BatchAdding) SelectNodeByText(BookmarkNodeText(bm.Rec.Description, bm.Rec.RecNo));
    PlayedSinceMark = false;
    LastMarkTime = QDateTime::currentDateTime();
}

QString TfrmMain::FindOrAddStartBookmark(const QString& path) {
    // The last node in tree order whose record names this file wins; the
    // store's index and the node cache stand in for reading every record.
    QString result;
    if (!StorePath.isEmpty() && QFileInfo::exists(StorePath)) {
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
    if (result.isEmpty()) SaveNewBookmark(path, 1, QString());
    return result;
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
    if (!bm->Valid) {
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
        bm->Rec.FilePath = CutUtf8(*chosen, TBookmarkRec::PathCapacity);
        writeBookmark(this, *bm);
        GoToSelectedBookmark();
        break;
    }
    case TfrmMissing::Delete: {
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
    QTreeWidgetItem* node = tv->currentItem();
    if (!node || !node->isSelected()) return;
    if (IsBookmarkNode(node)) {
        std::unique_ptr<TBookmark> bm = BookmarkFromNode(node);
        if (!bm->Valid) {
            ShowMessage(QStringLiteral("lookup failed: ") + node->text(0));
            return;
        }
        std::optional<QString> entry =
            Dlg().Input(this, QStringLiteral("Rename Bookmark"),
                        QStringLiteral("Alias/Description"), bm->Rec.Description);
        if (!entry) return;
        bm->Rec.Description = CutUtf8(*entry, TBookmarkRec::PathCapacity);
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
    QList<QTreeWidgetItem*> selected = tv->selectedItems();
    if (selected.isEmpty()) return;
    if (!AskYesNo(QStringLiteral("Delete selected item(s)?"))) return;
    Deleting = true;
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
    setWindowTitle(QStringLiteral("Narrabel - Removing tree items..."));
    cmdCompact->setEnabled(false);
    struct Done {
        TfrmMain* w;
        ~Done() {
            w->Deleting = false;
            w->cmdCompact->setEnabled(true);
            w->setWindowTitle(QStringLiteral("Narrabel"));
        }
    } done{this};
    // Selected bookmarks under a selected author go with their author.
    QSet<QTreeWidgetItem*> chosen(selected.begin(), selected.end());
    QList<QTreeWidgetItem*> order = AllNodes();
    for (int i = order.size() - 1; i >= 0; --i) {
        QTreeWidgetItem* node = order[i];
        if (!chosen.contains(node) || (node->parent() && chosen.contains(node->parent()))) continue;
        QCoreApplication::processEvents();
        removeNode(node);
    }
    Deleting = false;
    SaveTreeFile();
    if (!reselect.isEmpty()) SelectNodeByText(reselect);
}

void TfrmMain::cmdCompactClick() {
    if (!AskYesNo(QStringLiteral("Rebuild database and tree view (application remains usable)?")))
        return;
    CompactStore();
    if (!Closing) ShowMessage(QStringLiteral("Finished compacting bookmarks."));
}

void TfrmMain::CompactStore() {
    if (StorePath.isEmpty() || !QFileInfo::exists(StorePath)) return;
    setWindowTitle(QStringLiteral("Narrabel - Compacting bookmarks..."));
    QString error;
    const TCompactResult r =
        ::CompactStore(StorePath, DataFolder + QStringLiteral("!.tmp"), throttledEvents(), &error);
    if (r == TCompactResult::Failed) {
        setWindowTitle(QStringLiteral("Narrabel"));
        throw NarrabelError(error);
    }
    QFile::remove(DataFolder + TreeFileName());
    tv->clear();
    noteTreeChanged();
    LoadTree();
    setWindowTitle(QStringLiteral("Narrabel"));
}

void TfrmMain::RepointBookmarks(const QString& oldPath, const QString& newPath) {
    if (StorePath.isEmpty() || !QFileInfo::exists(StorePath)) return;
    setWindowTitle(QStringLiteral("Narrabel - Repointing bookmarks..."));
    QString error;
    const int n = ::RepointBookmarks(StorePath, oldPath, newPath, throttledEvents(), &error);
    setWindowTitle(QStringLiteral("Narrabel"));
    if (n < 0) throw NarrabelError(error);
}

void TfrmMain::AppendNameMap(const QString& oldName, const QString& newName) {
    if (DataFolder.isEmpty()) return;
    QString error;
    if (!::AppendNameMap(DataFolder + MapFileName(), oldName, newName, &error))
        throw NarrabelError(error);
}

void TfrmMain::mnuImportClick() {
    frmImport->show();
    frmImport->raise();
    frmImport->activateWindow();
}

void TfrmMain::cmdTagEditorClick() {
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
