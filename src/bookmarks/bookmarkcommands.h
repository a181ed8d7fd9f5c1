#pragma once
// The bookmark commands over the tree as data: create, rename, delete, compact,
// repoint, the start bookmark of every opened file, the decisions about a
// bookmark whose file has gone, the tree's file and rebuild, and the import of
// a folder tree. Questions go through the dialog seam; errors that end a
// command are thrown as NarrabelError.

#include "bookmarks/bookmark.h"
#include "bookmarks/bookmarktree.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

class TAppState;
struct TMP3Rec;

class TBookmarkCommands : public QObject {
    Q_OBJECT
public:
    using Node = TBookmarkTree::Node;

    TBookmarkCommands(TAppState& app, TBookmarkTree& tree, QObject* parent = nullptr);

    // ---- flags
    // The user's Delete is removing nodes: their records are marked deleted.
    bool Deleting = false;
    // Bookmarks are being added in bulk (import, rebuild): the tree is not
    // sorted, saved or re-selected after each one.
    bool BatchAdding = false;

    // ---- long operations
    // Delete, tree rebuild, import, compaction and repointing let events run
    // while they work. While one of them runs, the commands that remove,
    // renumber or rewrite records and nodes (rename, delete, compact, import,
    // the tag editor, the missing-source dialog's repoint and delete) are
    // unavailable: the windows disable them on BusyChanged and their handlers
    // do nothing. New bookmarks may still be made; each operation takes them
    // in. The outermost operation ends the busy state and puts the caption
    // back to "Narrabel" however it ends.
    class TLongOperation {
    public:
        TLongOperation(TBookmarkCommands& commands, const QString& caption);
        ~TLongOperation();
        TLongOperation(const TLongOperation&) = delete;
        TLongOperation& operator=(const TLongOperation&) = delete;

    private:
        TBookmarkCommands& c;
        QString previousCaption;
    };
    bool LongOperationRunning() const { return longOperations > 0; }
    // A step for bulk work that lets events run now and then.
    static std::function<bool()> ThrottledEvents();

    // ---- the tree, its file and the author map
    // Loads the tree file, or rebuilds the tree from the store when that fails.
    void LoadTree();
    void SaveTreeFile();
    // Adds the node of a stored record under its author (the tag's artist, or
    // the path without one, through the author map). tag: the record's file's
    // tag when the caller has just read it.
    void AddBookmarkNode(const TBookmarkRec& rec, const TMP3Rec* tag = nullptr);
    QString ApplyNameMap(const QString& name);
    void AppendNameMap(const QString& oldName, const QString& newName);
    // The bookmark of an author written last; nullptr without bookmarks.
    Node* LatestChildNode(Node* outer);
    // The record a node names (not Valid when it cannot be read).
    TBookmark BookmarkFromNode(const Node* node) const;
    void SelectNodeByText(const QString& text);

    // ---- commands
    // Why no bookmark can be stored while there is no data folder.
    static QString NoDataFolderMessage() {
        return QStringLiteral("Bookmarks cannot be saved until the data folder can be created.");
    }
    // Why no bookmark of path can be stored, or empty when one can.
    QString BookmarkRefusal(const QString& path) const;
    // Stores a new bookmark, adds its node and (unless in a batch) selects it.
    void SaveNewBookmark(const QString& path, int32_t position, const QString& description);
    enum class TStartBookmark { Found, Added, NotStored };
    // The description of the bookmark of path that comes last in the tree, or
    // empty after storing a start bookmark for it. NotStored: the file cannot
    // have bookmarks (no data folder, a path longer than the store holds);
    // *refusal then says why.
    QString FindOrAddStartBookmark(const QString& path, TStartBookmark* outcome = nullptr,
                                   QString* refusal = nullptr);
    // True when path's only live bookmark is its start bookmark (at position 1).
    bool OnlyStartBookmark(const QString& path) const;
    // Rename of the focused node: a bookmark's description, or an author through the map.
    void RenameSelected();
    // Delete of the selected nodes, after the question.
    void DeleteSelected();
    // Compaction after the question, then its message.
    void Compact();
    void CompactStore();
    // Points every live bookmark of oldPath at newPath.
    void RepointBookmarks(const QString& oldPath, const QString& newPath);
    // Marks every bookmark of path deleted and removes its nodes (and authors left empty).
    void DeleteBookmarksOfFile(const QString& path);
    // A bookmark whose file has gone: points it at another file (false when the
    // store cannot hold that path, after saying so), or deletes it with its node.
    bool RepointMissing(TBookmark& bookmark, const QString& newPath);
    void DeleteMissing(TBookmark& bookmark, Node* node);

    // ---- import of a folder tree
    struct TImportCounts {
        int Files = 0;
        int New = 0;     // start bookmarks stored
        int Skipped = 0; // files the store cannot hold
        int Known = 0;   // files that had a bookmark already
        // Of the New, files whose tags could not be read (stored under their path).
        int Unreadable = 0;
        int Authors = 0; // the authors of the New files that were read
    };
    struct TImportHooks {
        // Asked where each folder begins; true ends the scan there.
        std::function<bool()> Stop;
        // Before events are let run (where each folder begins, and now and then
        // within a long one), and once at the end: the folder being scanned,
        // the last file handled and the counts so far.
        std::function<void(const QString& folder, const QString& file, const TImportCounts&)>
            Progress;
    };
    // Gives every playable file below folder that has no bookmark a start
    // bookmark. Sorts and saves the tree however the scan ends; an error is
    // thrown after that. skippedReason: why files were skipped (the last reason).
    TImportCounts Import(const QString& folder, const TImportHooks& hooks,
                         QString* skippedReason = nullptr);
    // What an import did, in one line: "N new files by M authors; K already
    // known; J could not be read".
    static QString ImportSummary(const TImportCounts& counts);
    // The folder the last import scanned ("Narrabel.import" in the data
    // folder); empty when there is none, or it has gone.
    QString LastImportFolder() const;

signals:
    // A bookmark was stored by SaveNewBookmark.
    void BookmarkStored();
    // A long operation began (true) or the last one ended (false).
    void BusyChanged(bool busy);
    // The tree was built anew from the store.
    void TreeRebuilt();

private:
    void writeBookmark(TBookmark& bm, const TMP3Rec* tag = nullptr);
    void markDeleted(TBookmark& bm);
    QString outerNameOf(const QString& path, const TMP3Rec* tag);
    void removeNode(Node* node);
    using TScanStep = std::function<void(const QString& folder, const QString& file)>;
    void scanFolder(const QString& folder, const TImportHooks& hooks, TImportCounts& counts,
                    QString& skippedReason, const TScanStep& step);

    TAppState& app;
    TBookmarkTree& tree;
    int longOperations = 0;
    // The tree lacks records: a rebuild from the store failed or was stopped.
    // It is never saved as the tree file until a whole load succeeds.
    bool treeIncomplete = false;
    QHash<QString, QString> batchNames; // path -> author while adding in bulk
    QSet<QString> importAuthors;        // the authors of the files an import added
    bool lastTagUnreadable = false;     // the last new bookmark's tags could not be read
};
