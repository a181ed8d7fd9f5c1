// The bookmark tree: authors and their bookmarks, the tree file and the author map.

#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include <QTreeWidget>

void TfrmMain::LoadTree() {}

void TfrmMain::AddBookmarkNode(const TBookmarkRec&) {}

QString TfrmMain::ApplyNameMap(const QString& name) { return name; }

QTreeWidgetItem* TfrmMain::FindOuterNode(const QString&) { return nullptr; }

int64_t TfrmMain::NodeRecordNumber(const QString& text) { return ParseLooseInt(text.mid(text.size() - 9, 8)); }

std::unique_ptr<TBookmark> TfrmMain::BookmarkFromNode(QTreeWidgetItem*) { return nullptr; }

void TfrmMain::SelectNodeByText(const QString&) {}

QTreeWidgetItem* TfrmMain::LatestChildNode(QTreeWidgetItem*) { return nullptr; }

void TfrmMain::SaveTreeFile() {}

void TfrmMain::SelectAllOuterNodes() {}

void TfrmMain::mnuCollapseAllClick() { tv->collapseAll(); }

void TfrmMain::mnuExpandAllClick() { tv->expandAll(); }

void TfrmMain::mnuSelectAllClick() { SelectAllOuterNodes(); }
