// The bookmark tree: authors and their bookmarks, the tree file and the author map.

#include "app/application.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/treefile.h"
#include "tags/mp3.h"
#include "util/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTreeWidget>

namespace {

// Siblings sort by the locale's comparison of their texts.
class TNode : public QTreeWidgetItem {
public:
    explicit TNode(const QString& text) : QTreeWidgetItem(QStringList{text}) {}
    bool operator<(const QTreeWidgetItem& other) const override {
        return QString::localeAwareCompare(text(0), other.text(0)) < 0;
    }
};

bool lessText(const QString& a, const QString& b) {
    return QString::localeAwareCompare(a, b) < 0;
}

} // namespace

bool TfrmMain::IsBookmarkNode(const QTreeWidgetItem* node) {
    return node && node->parent();
}

QList<QTreeWidgetItem*> TfrmMain::AllNodes() const {
    QList<QTreeWidgetItem*> out;
    for (int i = 0; i < tv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* outer = tv->topLevelItem(i);
        out << outer;
        for (int j = 0; j < outer->childCount(); ++j)
            out << outer->child(j);
    }
    return out;
}

QTreeWidgetItem* TfrmMain::makeNode(const QString& text) {
    return new TNode(text);
}

void TfrmMain::noteTreeChanged() {
    treeCachesValid = false;
}

void TfrmMain::rebuildTreeCaches() const {
    outerByName.clear();
    nodeByRecNo.clear();
    nodeByText.clear();
    for (int i = 0; i < tv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* outer = tv->topLevelItem(i);
        outerByName.insert(outer->text(0), outer); // keep the first: see below
        nodeByText.insert(outer->text(0), outer);
        for (int j = 0; j < outer->childCount(); ++j) {
            QTreeWidgetItem* child = outer->child(j);
            const int64_t n = ::NodeRecordNumber(child->text(0));
            if (!nodeByRecNo.contains(n)) nodeByRecNo.insert(n, child);
            if (!nodeByText.contains(child->text(0))) nodeByText.insert(child->text(0), child);
        }
    }
    // Walked again backwards so that the first node in tree order wins each name.
    for (int i = tv->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* outer = tv->topLevelItem(i);
        outerByName.insert(outer->text(0), outer);
        nodeByText.insert(outer->text(0), outer);
    }
    treeCachesValid = true;
}

QTreeWidgetItem* TfrmMain::insertSorted(QTreeWidgetItem* parent, QTreeWidgetItem* node) {
    // The tree is kept sorted, so one binary search places a new node where a
    // full sort would put it.
    const int count = parent ? parent->childCount() : tv->topLevelItemCount();
    auto at = [&](int i) { return parent ? parent->child(i) : tv->topLevelItem(i); };
    int lo = 0, hi = count;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (lessText(node->text(0), at(mid)->text(0)))
            hi = mid;
        else
            lo = mid + 1;
    }
    if (parent)
        parent->insertChild(lo, node);
    else
        tv->insertTopLevelItem(lo, node);
    return node;
}

QString TfrmMain::outerNameOf(const QString& path) {
    if (BatchAdding) {
        auto it = rebuildNames.constFind(path);
        if (it != rebuildNames.constEnd()) return *it;
    }
    ReadTag(path);
    QString name = CurrentTag().Artist;
    if (name.isEmpty()) name = path;
    name = ApplyNameMap(name);
    if (BatchAdding) rebuildNames.insert(path, name);
    return name;
}

void TfrmMain::AddBookmarkNode(const TBookmarkRec& rec) {
    const QString name = outerNameOf(rec.FilePath);
    QTreeWidgetItem* outer = FindOuterNode(name);
    const bool sortNow = !BatchAdding;
    if (sortNow && !treeSorted) {
        tv->sortItems(0, Qt::AscendingOrder);
        treeSorted = true;
        noteTreeChanged();
    }
    if (!outer) {
        outer = makeNode(name);
        if (sortNow)
            insertSorted(nullptr, outer);
        else
            tv->addTopLevelItem(outer);
        if (!treeCachesValid) rebuildTreeCaches();
        if (!outerByName.contains(name) && !nodeByText.contains(name)) {
            outerByName.insert(name, outer);
            nodeByText.insert(name, outer);
        } else {
            noteTreeChanged(); // a second node of that text: tree order decides
        }
    }
    QTreeWidgetItem* node = makeNode(BookmarkNodeText(rec.Description, rec.RecNo));
    if (sortNow)
        insertSorted(outer, node);
    else
        outer->addChild(node);
    if (treeCachesValid) {
        const int64_t n = rec.RecNo;
        if (!nodeByRecNo.contains(n) && !nodeByText.contains(node->text(0))) {
            nodeByRecNo.insert(n, node);
            nodeByText.insert(node->text(0), node);
        } else {
            noteTreeChanged();
        }
    }
    if (!sortNow)
        treeSorted = false;
    else
        SaveTreeFile();
}

QString TfrmMain::ApplyNameMap(const QString& name) {
    if (DataFolder.isEmpty()) return name;
    // The map is read again only when the file changed.
    static QString cachedPath;
    static QDateTime cachedTime;
    static qint64 cachedSize = -1;
    static TNameMap cached;
    const QString path = DataFolder + MapFileName();
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

QTreeWidgetItem* TfrmMain::FindOuterNode(const QString& name) {
    // Only authors can take bookmarks: a bookmark node never becomes a parent.
    if (!treeCachesValid) rebuildTreeCaches();
    return outerByName.value(name, nullptr);
}

int64_t TfrmMain::NodeRecordNumber(const QString& text) {
    return ::NodeRecordNumber(text);
}

std::unique_ptr<TBookmark> TfrmMain::BookmarkFromNode(QTreeWidgetItem* node) {
    if (!node) return std::make_unique<TBookmark>();
    return std::make_unique<TBookmark>(StorePath, ::NodeRecordNumber(node->text(0)));
}

void TfrmMain::SelectNodeByText(const QString& text) {
    if (!treeCachesValid) rebuildTreeCaches();
    QTreeWidgetItem* node = nodeByText.value(text, nullptr);
    if (!node) return;
    if (node->parent()) node->parent()->setExpanded(true);
    tv->clearSelection();
    tv->setCurrentItem(node);
    node->setSelected(true);
    tv->scrollToItem(node);
    tv->setFocus();
}

QTreeWidgetItem* TfrmMain::LatestChildNode(QTreeWidgetItem* outer) {
    if (!outer || outer->childCount() == 0) return nullptr;
    QStringList texts;
    for (int i = 0; i < outer->childCount(); ++i)
        texts << outer->child(i)->text(0);
    const int64_t n = BookmarkIndex(StorePath).LatestChildRecord(texts);
    // Only this author's bookmarks, by the number their texts end in: a text
    // anywhere else may still hold that number from before a compaction.
    for (int i = 0; i < outer->childCount(); ++i)
        if (::NodeRecordNumber(outer->child(i)->text(0)) == n) return outer->child(i);
    return nullptr;
}

void TfrmMain::SaveTreeFile() {
    if (DataFolder.isEmpty()) return;
    const QString path = DataFolder + TreeFileName();
    if (treeIncomplete) {
        // The partial tree would hide the rest of the store at every start; an
        // older file would lack this change. Without one, the next start builds
        // the tree from the store, which holds every change.
        QFile::remove(path);
        return;
    }
    QVector<TTreeLine> lines;
    lines.reserve(tv->topLevelItemCount() * 2);
    for (QTreeWidgetItem* node : AllNodes())
        lines.push_back({node->parent() ? 1 : 0, node->text(0)});
    QString error;
    if (!::SaveTreeFile(path, lines, &error)) {
        // An older file would bring back a tree without this change at the next
        // start; without one, the next start builds the tree from the store.
        QFile::remove(path);
        throw NarrabelError(error);
    }
}

void TfrmMain::LoadTree() {
    if (StorePath.isEmpty() || !QFileInfo::exists(StorePath)) return;
    QVector<TTreeLine> lines;
    tv->clear();
    noteTreeChanged();
    if (LoadTreeFile(DataFolder + TreeFileName(), lines)) {
        QList<QTreeWidgetItem*> roots;
        QTreeWidgetItem* outer = nullptr;
        bool sorted = true;
        QString prevOuter, prevChild;
        for (const TTreeLine& line : lines) {
            if (line.Level == 0 || !outer) {
                outer = makeNode(line.Text);
                roots << outer;
                if (!prevOuter.isNull() && lessText(line.Text, prevOuter)) sorted = false;
                prevOuter = line.Text;
                prevChild = QString();
            } else {
                // A deeper level than 1 cannot come from our own file; keep it
                // under its author rather than lose it.
                outer->addChild(makeNode(line.Text));
                if (!prevChild.isNull() && lessText(line.Text, prevChild)) sorted = false;
                prevChild = line.Text;
            }
        }
        tv->addTopLevelItems(roots);
        treeSorted = sorted;
        treeIncomplete = false;
        warmLookups();
        return;
    }
    tv->clear();
    treeIncomplete = true; // until every record has been read
    // The walk stops at the records that were there when it began: a bookmark
    // made meanwhile adds its own node and must not come back a second time.
    const int64_t count = StoreRecordCount(StorePath);
    bool stopped = false, read = false;
    QString error;
    {
        TLongOperation op(this, QStringLiteral("Narrabel - Building tree view..."));
        QScopedValueRollback<bool> batch(BatchAdding, true);
        rebuildNames.clear();
        const auto step = throttledEvents();
        int64_t place = 0;
        read = ForEachRecord(
            StorePath,
            [&](const TBookmarkRec& rec) {
                if (++place > count) return false;
                step();
                if (Closing) {
                    stopped = true;
                    return false;
                }
                if (!rec.Deleted()) AddBookmarkNode(rec);
                return true;
            },
            &error);
        rebuildNames.clear();
    }
    if (stopped) return; // no tree file: the next start builds the tree again
    tv->sortItems(0, Qt::AscendingOrder);
    treeSorted = true;
    noteTreeChanged();
    if (read) {
        treeIncomplete = false;
        SaveTreeFile();
        warmLookups();
    } else {
        // A tree file of what could be read would hide the rest at every start.
        ShowDefaultError(error);
    }
    tv->setFocus();
}

void TfrmMain::warmLookups() {
    // Paid once at start-up rather than by the first Browse or Go.
    rebuildTreeCaches();
    BookmarkIndex(StorePath);
}

void TfrmMain::SelectAllOuterNodes() {
    Updating = true;
    tv->collapseAll();
    tv->clearSelection();
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        tv->topLevelItem(i)->setSelected(true);
    Updating = false;
}

void TfrmMain::removeNode(QTreeWidgetItem* node) {
    // Every bookmark node that leaves the tree passes the deletion hook first.
    for (int i = 0; i < node->childCount(); ++i)
        tvDeletion(node->child(i));
    tvDeletion(node);
    delete node;
    noteTreeChanged();
}

void TfrmMain::mnuCollapseAllClick() {
    tv->collapseAll();
}

void TfrmMain::mnuExpandAllClick() {
    tv->expandAll();
}

void TfrmMain::mnuSelectAllClick() {
    SelectAllOuterNodes();
}
