#pragma once
// The tree file "Narrabel.tv" and the author map "Narrabel.map".
//
// Tree file: one line per node in tree order, the node's level as that many
// TABs, the text, CR LF. Texts are UTF-8. A text that itself begins with a
// space or a TAB (an author renamed that way) would read back one level deeper,
// so such a text is written behind a ZERO WIDTH SPACE (U+200B), which the
// loader removes again; the mark is invisible to any other reader of the file.
// Texts written by other programs load unchanged unless they begin with U+200B.
//
// Map file: lines "old___new", only ever appended; ApplyNameMap follows them in
// file order, so A___B then B___C sends A to C.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

struct TTreeLine {
    int Level = 0; // 0 outer (author) node, 1 bookmark node
    QString Text;
    bool operator==(const TTreeLine& o) const { return Level == o.Level && Text == o.Text; }
};

inline QString TreeFileName() {
    return QStringLiteral("Narrabel.tv");
}
inline QString MapFileName() {
    return QStringLiteral("Narrabel.map");
}

// Parses a tree file into nodes with their levels in the tree. The first line
// is a root whatever its indent; each later line is a sibling of the node
// before (same indent), its child (one deeper), or a sibling of that node's
// ancestor at its level (shallower). More than one deeper fails with
// "Invalid level (%d) for item "%s"": out then holds the nodes parsed so far.
bool ParseTreeText(const QByteArray& data, QVector<TTreeLine>& out, QString* error = nullptr);
// The file's bytes for these nodes (levels as TABs, CR LF line ends).
QByteArray RenderTreeText(const QVector<TTreeLine>& nodes);
// Reads the file; false (error set) when it is missing, unreadable or malformed.
bool LoadTreeFile(const QString& path, QVector<TTreeLine>& out, QString* error = nullptr);
// Writes the file in one step (a temporary file renamed over it), so a failed
// write never leaves half a tree behind. False with error set on failure.
bool SaveTreeFile(const QString& path, const QVector<TTreeLine>& nodes, QString* error = nullptr);

// The record number at the end of a bookmark node's text: the (up to) 8
// characters in front of its last character, read leniently ("…[00000012]" -> 12).
int64_t NodeRecordNumber(const QString& text);
// The designed text test for bookmark nodes; the windows prefer the level
// (1 = bookmark), which an author name containing "[0" cannot fool.
inline bool LooksLikeBookmarkNode(const QString& text) {
    return text.contains(QLatin1String("[0"));
}
// A record's node text: its description with the number in its last 8
// characters replaced by RecNo (after compaction the description still names
// the old number).
QString BookmarkNodeText(const QString& description, int32_t recNo);

// Follows the map lines in order from name (exact, case-sensitive matches).
// The new name is at most 999 characters; lines without "___" never match.
QString ApplyNameMap(const QString& name, const QStringList& mapLines);
// The map line for a rename.
inline QString NameMapLine(const QString& oldName, const QString& newName) {
    return oldName + QStringLiteral("___") + newName;
}
// Appends one line to the map file (nothing when the names are equal). False
// with error set when an existing file cannot be read or the file cannot be written.
bool AppendNameMap(const QString& mapPath, const QString& oldName, const QString& newName,
                   QString* error = nullptr);

// The map file loaded once, for applying it to many names (tree rebuilds).
class TNameMap {
public:
    TNameMap() = default;
    explicit TNameMap(const QStringList& lines) : Lines(lines) {}
    // A missing or unreadable file maps nothing.
    static TNameMap Load(const QString& mapPath);
    QString Apply(const QString& name) const;
    QStringList Lines;

private:
    mutable QHash<QString, QString> memo;
};
