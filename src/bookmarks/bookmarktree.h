#pragma once
// The bookmark tree as data: authors (outer nodes) holding bookmark nodes whose
// texts end in their record numbers, siblings in the locale's order of their
// texts (numbers in them compared as numbers). The window's tree only shows this data, following
// its signals, and reports the user's selection back; the bookmark commands work on it here.

#include "bookmarks/treefile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <cstdint>
#include <vector>

class TBookmarkTree : public QObject {
    Q_OBJECT
public:
    struct Node {
        QString Text;
        Node* Parent = nullptr;      // nullptr for an author
        std::vector<Node*> Children; // an author's bookmarks
        bool IsBookmark() const { return Parent != nullptr; }
    };

    explicit TBookmarkTree(QObject* parent = nullptr);
    ~TBookmarkTree() override;

    // Whether a sorts before b among siblings: the locale's collation, numbers
    // compared as numbers, whatever the script.
    static bool Less(const QString& a, const QString& b);

    const std::vector<Node*>& Authors() const { return roots; }
    // Every node in tree order: each author followed by its bookmarks.
    std::vector<Node*> AllNodes() const;
    int NodeCount() const { return int(live.size()); }
    bool IsEmpty() const { return roots.empty(); }
    // A node's place among its siblings; -1 for nullptr.
    int IndexOf(const Node* node) const;
    // Whether node (which may have been removed meanwhile) is still in the tree.
    bool Contains(const Node* node) const { return live.contains(node); }

    // The first node in tree order with that text, author or bookmark.
    Node* FindByText(const QString& text) const;
    // The first author of that name.
    Node* FindOuterNode(const QString& name) const;
    // The first bookmark node whose text ends in that record number.
    Node* FindByRecNo(int64_t recNo) const;

    // Adds an author or one of an author's bookmarks. With sorted it goes where
    // a sort would put it (the tree is sorted first when it is not); otherwise
    // it is appended and the tree is left unsorted until Sort.
    Node* AddAuthor(const QString& text, bool sorted);
    Node* AddBookmark(Node* author, const QString& text, bool sorted);
    // Removes a node with its children.
    void Remove(Node* node);
    // Gives a node a new text and moves it to its sorted place among its siblings.
    void SetText(Node* node, const QString& text);
    // Replaces the whole tree with nodes in the tree file's form; a line deeper
    // than an author's bookmarks stays under its author.
    void Load(const QVector<TTreeLine>& lines);
    void Clear();
    void Sort();
    // Shows only the authors, every one closed (after an import).
    void CollapseAll() { emit CollapseRequested(); }
    bool Sorted() const { return sorted; }
    // The nodes in the tree file's form, in tree order.
    QVector<TTreeLine> Lines() const;

    // ---- selection: as the user left it in the window, or as a command set it
    Node* Current() const { return current; }
    const QList<Node*>& Selected() const { return selected; }
    // The node a command acts on: the current node when it is selected, else
    // the first selected one; nullptr when nothing is selected.
    Node* Focused() const;
    // The current node when it is selected, else nullptr.
    Node* CurrentSelected() const;
    // Reported by the window whenever the user changes the selection (no signal).
    void SetSelection(Node* current, const QList<Node*>& selected);
    // Selects only node and makes it current; with reveal its author is
    // expanded, it is scrolled into view and the tree takes the focus.
    void Select(Node* node, bool reveal = true);
    // Selects every author (and nothing else); the current node stays.
    void SelectAuthors();

signals:
    // The whole tree changed (loaded, cleared, sorted).
    void Reset();
    void Inserted(TBookmarkTree::Node* node, int index);
    // Before node and its children go.
    void AboutToRemove(TBookmarkTree::Node* node);
    // node's text changed and it now stands at index among its siblings.
    void Moved(TBookmarkTree::Node* node, int index);
    // A command changed the selection; reveal: bring the current node into
    // view and give the tree the focus.
    void SelectionChanged(bool reveal);
    void CollapseRequested();

private:
    std::vector<Node*>& siblingsOf(const Node* node);
    int sortedIndex(const std::vector<Node*>& siblings, const QString& text) const;
    void place(Node* node, bool sorted);
    void dropFromSelection(const Node* node);
    void invalidate() { cachesValid = false; }
    void rebuildCaches() const;
    void destroy(Node* node);

    std::vector<Node*> roots;
    QSet<const Node*> live;
    bool sorted = true;
    Node* current = nullptr;
    QList<Node*> selected;
    // Lookups kept in step with the nodes; the first node in tree order wins a text.
    mutable bool cachesValid = true;
    mutable QHash<QString, Node*> outerByName;
    mutable QHash<int64_t, Node*> nodeByRecNo;
    mutable QHash<QString, Node*> nodeByText;
};
