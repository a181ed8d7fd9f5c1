// The bookmark tree on screen: a picture of the tree's data, kept in step with
// its signals, that reports the user's selection back.

#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/bookmarkcommands.h"

#include <QScopedValueRollback>
#include <QSet>
#include <QTreeWidget>

namespace {
const int kNodeRole = Qt::UserRole;
} // namespace

QTreeWidgetItem* TfrmMain::makeItem(TBookmarkTree::Node* node) {
    auto* item = new QTreeWidgetItem(QStringList{node->Text});
    item->setData(0, kNodeRole, QVariant::fromValue(quintptr(node)));
    items.insert(node, item);
    return item;
}

TBookmarkTree::Node* TfrmMain::NodeOf(const QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    auto* node = reinterpret_cast<TBookmarkTree::Node*>(item->data(0, kNodeRole).value<quintptr>());
    return tree.Contains(node) ? node : nullptr;
}

QTreeWidgetItem* TfrmMain::ItemOf(const TBookmarkTree::Node* node) const {
    return items.value(node, nullptr);
}

void TfrmMain::rebuildItems() {
    const QScopedValueRollback<bool> quiet(mirroring, true);
    // Authors that stay (a sort) stay open; a loaded or cleared tree has none.
    QSet<const TBookmarkTree::Node*> open;
    for (auto it = items.cbegin(); it != items.cend(); ++it)
        if (it.value()->isExpanded() && tree.Contains(it.key())) open.insert(it.key());
    tv->clear();
    items.clear();
    items.reserve(tree.NodeCount());
    QList<QTreeWidgetItem*> roots;
    roots.reserve(int(tree.Authors().size()));
    for (TBookmarkTree::Node* author : tree.Authors()) {
        QTreeWidgetItem* outer = makeItem(author);
        QList<QTreeWidgetItem*> children;
        children.reserve(int(author->Children.size()));
        for (TBookmarkTree::Node* child : author->Children)
            children << makeItem(child);
        outer->addChildren(children);
        roots << outer;
    }
    tv->addTopLevelItems(roots);
    for (const TBookmarkTree::Node* node : open)
        if (QTreeWidgetItem* item = ItemOf(node)) item->setExpanded(true);
    showSelection(false);
}

void TfrmMain::ConnectTree() {
    connect(&tree, &TBookmarkTree::Reset, this, [this] { rebuildItems(); });
    connect(&tree, &TBookmarkTree::Inserted, this, [this](TBookmarkTree::Node* node, int index) {
        const QScopedValueRollback<bool> quiet(mirroring, true);
        QTreeWidgetItem* item = makeItem(node);
        if (QTreeWidgetItem* parent = ItemOf(node->Parent))
            parent->insertChild(index, item);
        else
            tv->insertTopLevelItem(index, item);
    });
    connect(&tree, &TBookmarkTree::AboutToRemove, this, [this](TBookmarkTree::Node* node) {
        {
            const QScopedValueRollback<bool> quiet(mirroring, true);
            for (const TBookmarkTree::Node* child : node->Children)
                items.remove(child);
            delete items.take(node);
        }
        // The tree moves its current row on by itself: the selection is what it shows.
        reportSelection();
    });
    connect(&tree, &TBookmarkTree::Moved, this, [this](TBookmarkTree::Node* node, int index) {
        const QScopedValueRollback<bool> quiet(mirroring, true);
        QTreeWidgetItem* item = ItemOf(node);
        if (!item) return;
        const bool expanded = item->isExpanded();
        QTreeWidgetItem* parent = item->parent();
        if (parent) {
            parent->takeChild(parent->indexOfChild(item));
            item->setText(0, node->Text);
            parent->insertChild(index, item);
        } else {
            tv->takeTopLevelItem(tv->indexOfTopLevelItem(item));
            item->setText(0, node->Text);
            tv->insertTopLevelItem(index, item);
        }
        item->setExpanded(expanded);
    });
    connect(&tree, &TBookmarkTree::SelectionChanged, this, &TfrmMain::showSelection);
    connect(&tree, &TBookmarkTree::CollapseRequested, tv, &QTreeView::collapseAll);
    connect(tv, &QTreeWidget::itemSelectionChanged, this, &TfrmMain::reportSelection);
    connect(tv, &QTreeWidget::currentItemChanged, this, &TfrmMain::reportSelection);
    connect(&bookmarks, &TBookmarkCommands::TreeRebuilt, this, [this] { tv->setFocus(); });
}

void TfrmMain::reportSelection() {
    if (mirroring) return;
    QList<TBookmarkTree::Node*> selected;
    for (QTreeWidgetItem* item : tv->selectedItems())
        if (TBookmarkTree::Node* node = NodeOf(item)) selected << node;
    tree.SetSelection(NodeOf(tv->currentItem()), selected);
}

void TfrmMain::showSelection(bool reveal) {
    const QScopedValueRollback<bool> quiet(mirroring, true);
    tv->clearSelection();
    QTreeWidgetItem* current = ItemOf(tree.Current());
    if (current) tv->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (TBookmarkTree::Node* node : tree.Selected())
        if (QTreeWidgetItem* item = ItemOf(node)) item->setSelected(true);
    if (!reveal || !current) return;
    if (current->parent()) current->parent()->setExpanded(true);
    tv->scrollToItem(current);
    tv->setFocus();
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

bool TfrmMain::IsBookmarkNode(const QTreeWidgetItem* item) {
    return item && item->parent();
}

TBookmark TfrmMain::BookmarkFromNode(const QTreeWidgetItem* item) const {
    return bookmarks.BookmarkFromNode(NodeOf(item));
}

void TfrmMain::mnuCollapseAllClick() {
    tv->collapseAll();
}

void TfrmMain::mnuExpandAllClick() {
    tv->expandAll();
}

void TfrmMain::mnuSelectAllClick() {
    const QScopedValueRollback<bool> updating(Updating, true);
    tv->collapseAll();
    tree.SelectAuthors();
}
