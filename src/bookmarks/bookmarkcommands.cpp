// Bookmark commands: create, go, rename, delete, compact, repoint.

#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"

void TfrmMain::cmdBookmarkClick() {}

void TfrmMain::tvDblClick() { GoToSelectedBookmark(); }

void TfrmMain::GoToSelectedBookmark() {}

void TfrmMain::cmdRenameClick() {}

void TfrmMain::mnuDelBMClick() {}

void TfrmMain::cmdCompactClick() {}

void TfrmMain::SaveNewBookmark(const QString&, int32_t, const QString&) {}

QString TfrmMain::FindOrAddStartBookmark(const QString&) { return {}; }

void TfrmMain::RepointBookmarks(const QString&, const QString&) {}

void TfrmMain::AppendNameMap(const QString&, const QString&) {}

void TfrmMain::mnuImportClick() {}

void TfrmMain::cmdTagEditorClick() {}

void TfrmMain::mnuEditTagClick() {}
void TfrmMain::DeleteBookmarksOfFile(const QString&) {}
