#include "bookmarks/bookmarktree.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <algorithm>

namespace {

// The user's collation, numbers compared as numbers ("Book 2" before "Book
// 10"). The C locale would compare code points ("Zola" before "abel", "Émile"
// after both); books then sort as people read them, by the root collation.
const QCollator& Collator() {
    static const QCollator collator = [] {
        QLocale locale = QLocale::system();
        if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
        QCollator c(locale);
        c.setNumericMode(true);
        return c;
    }();
    return collator;
}

} // namespace

TBookmarkTree::TBookmarkTree(QObject* parent) : QObject(parent) {}

TBookmarkTree::~TBookmarkTree() {
    for (Node* n : roots)
        destroy(n);
}

bool TBookmarkTree::Less(const QString& a, const QString& b) {
    return Collator().compare(a, b) < 0;
}

std::vector<TBookmarkTree::Node*> TBookmarkTree::AllNodes() const {
    std::vector<Node*> out;
    out.reserve(size_t(live.size()));
    for (Node* author : roots) {
        out.push_back(author);
        out.insert(out.end(), author->Children.begin(), author->Children.end());
    }
    return out;
}

std::vector<TBookmarkTree::Node*>& TBookmarkTree::siblingsOf(const Node* node) {
    return node->Parent ? node->Parent->Children : roots;
}

int TBookmarkTree::IndexOf(const Node* node) const {
    if (!node) return -1;
    const std::vector<Node*>& s = node->Parent ? node->Parent->Children : roots;
    const auto it = std::find(s.begin(), s.end(), node);
    return it == s.end() ? -1 : int(it - s.begin());
}

void TBookmarkTree::rebuildCaches() const {
    outerByName.clear();
    nodeByRecNo.clear();
    nodeByText.clear();
    for (Node* author : roots) {
        if (!outerByName.contains(author->Text)) outerByName.insert(author->Text, author);
        if (!nodeByText.contains(author->Text)) nodeByText.insert(author->Text, author);
        for (Node* child : author->Children) {
            const int64_t n = NodeRecordNumber(child->Text);
            if (!nodeByRecNo.contains(n)) nodeByRecNo.insert(n, child);
            if (!nodeByText.contains(child->Text)) nodeByText.insert(child->Text, child);
        }
    }
    cachesValid = true;
}

TBookmarkTree::Node* TBookmarkTree::FindByText(const QString& text) const {
    if (!cachesValid) rebuildCaches();
    return nodeByText.value(text, nullptr);
}

TBookmarkTree::Node* TBookmarkTree::FindOuterNode(const QString& name) const {
    // Only authors take bookmarks: a bookmark node never becomes a parent.
    if (!cachesValid) rebuildCaches();
    return outerByName.value(name, nullptr);
}

TBookmarkTree::Node* TBookmarkTree::FindByRecNo(int64_t recNo) const {
    if (!cachesValid) rebuildCaches();
    return nodeByRecNo.value(recNo, nullptr);
}

int TBookmarkTree::sortedIndex(const std::vector<Node*>& siblings, const QString& text) const {
    // The siblings are sorted, so one binary search places a node where a full
    // sort would put it.
    const auto it =
        std::upper_bound(siblings.begin(), siblings.end(), text,
                         [](const QString& t, const Node* n) { return Less(t, n->Text); });
    return int(it - siblings.begin());
}

void TBookmarkTree::place(Node* node, bool sortedPlace) {
    if (sortedPlace && !sorted) Sort();
    std::vector<Node*>& s = siblingsOf(node);
    const int index = sortedPlace ? sortedIndex(s, node->Text) : int(s.size());
    s.insert(s.begin() + index, node);
    if (!sortedPlace) sorted = false;
    live.insert(node);
    // A text no node has yet is found at this node wherever it stands; a
    // second node of a text leaves it to the tree order.
    if (cachesValid) {
        if (nodeByText.contains(node->Text)) {
            invalidate();
        } else if (node->IsBookmark()) {
            const int64_t n = NodeRecordNumber(node->Text);
            if (nodeByRecNo.contains(n)) {
                invalidate();
            } else {
                nodeByRecNo.insert(n, node);
                nodeByText.insert(node->Text, node);
            }
        } else if (outerByName.contains(node->Text)) {
            invalidate();
        } else {
            outerByName.insert(node->Text, node);
            nodeByText.insert(node->Text, node);
        }
    }
    emit Inserted(node, index);
}

TBookmarkTree::Node* TBookmarkTree::AddAuthor(const QString& text, bool sortedPlace) {
    auto* node = new Node{text, nullptr, {}};
    place(node, sortedPlace);
    return node;
}

TBookmarkTree::Node* TBookmarkTree::AddBookmark(Node* author, const QString& text,
                                                bool sortedPlace) {
    auto* node = new Node{text, author, {}};
    place(node, sortedPlace);
    return node;
}

void TBookmarkTree::dropFromSelection(const Node* node) {
    if (current == node || (current && current->Parent == node)) current = nullptr;
    selected.erase(std::remove_if(selected.begin(), selected.end(),
                                  [node](const Node* n) { return n == node || n->Parent == node; }),
                   selected.end());
}

void TBookmarkTree::destroy(Node* node) {
    for (Node* child : node->Children)
        destroy(child);
    live.remove(node);
    delete node;
}

void TBookmarkTree::Remove(Node* node) {
    if (!node || !live.contains(node)) return;
    emit AboutToRemove(node);
    std::vector<Node*>& s = siblingsOf(node);
    s.erase(std::find(s.begin(), s.end(), node));
    dropFromSelection(node);
    destroy(node);
    invalidate();
}

void TBookmarkTree::SetText(Node* node, const QString& text) {
    if (!node) return;
    std::vector<Node*>& s = siblingsOf(node);
    s.erase(std::find(s.begin(), s.end(), node));
    node->Text = text;
    const int index = sortedIndex(s, text);
    s.insert(s.begin() + index, node);
    invalidate();
    emit Moved(node, index);
}

void TBookmarkTree::Clear() {
    for (Node* n : roots)
        destroy(n);
    roots.clear();
    live.clear();
    sorted = true;
    current = nullptr;
    selected.clear();
    invalidate();
    emit Reset();
}

void TBookmarkTree::Load(const QVector<TTreeLine>& lines) {
    for (Node* n : roots)
        destroy(n);
    roots.clear();
    live.clear();
    current = nullptr;
    selected.clear();
    sorted = true;
    Node* author = nullptr;
    const QString* prevAuthor = nullptr;
    const QString* prevChild = nullptr;
    roots.reserve(size_t(lines.size()) / 2 + 1);
    for (const TTreeLine& line : lines) {
        if (line.Level == 0 || !author) {
            author = new Node{line.Text, nullptr, {}};
            roots.push_back(author);
            if (prevAuthor && Less(line.Text, *prevAuthor)) sorted = false;
            prevAuthor = &line.Text;
            prevChild = nullptr;
        } else {
            // A deeper level cannot come from our own file; keep it under its
            // author rather than lose it.
            author->Children.push_back(new Node{line.Text, author, {}});
            if (prevChild && Less(line.Text, *prevChild)) sorted = false;
            prevChild = &line.Text;
        }
    }
    live.reserve(lines.size());
    for (Node* a : roots) {
        live.insert(a);
        for (Node* c : a->Children)
            live.insert(c);
    }
    rebuildCaches();
    emit Reset();
}

void TBookmarkTree::Sort() {
    // Each text's sort key is made once: a whole tree is a hundred thousand nodes.
    auto sortNodes = [](std::vector<Node*>& nodes) {
        std::vector<std::pair<QCollatorSortKey, Node*>> keyed;
        keyed.reserve(nodes.size());
        for (Node* n : nodes)
            keyed.emplace_back(Collator().sortKey(n->Text), n);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
        for (size_t i = 0; i < nodes.size(); ++i)
            nodes[i] = keyed[i].second;
    };
    sortNodes(roots);
    for (Node* a : roots)
        sortNodes(a->Children);
    sorted = true;
    invalidate();
    emit Reset();
}

QVector<TTreeLine> TBookmarkTree::Lines() const {
    QVector<TTreeLine> lines;
    lines.reserve(live.size());
    for (const Node* author : roots) {
        lines.push_back({0, author->Text});
        for (const Node* child : author->Children)
            lines.push_back({1, child->Text});
    }
    return lines;
}

TBookmarkTree::Node* TBookmarkTree::Focused() const {
    if (current && selected.contains(current)) return current;
    return selected.isEmpty() ? nullptr : selected.first();
}

void TBookmarkTree::SetSelection(Node* cur, const QList<Node*>& sel) {
    current = cur;
    selected = sel;
}

TBookmarkTree::Node* TBookmarkTree::CurrentSelected() const {
    return current && selected.contains(current) ? current : nullptr;
}

void TBookmarkTree::Select(Node* node, bool reveal) {
    if (!node || !live.contains(node)) return;
    current = node;
    selected = {node};
    emit SelectionChanged(reveal);
}

void TBookmarkTree::SelectAuthors() {
    selected = QList<Node*>(roots.begin(), roots.end());
    emit SelectionChanged(false);
}
