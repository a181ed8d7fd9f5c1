#include "playback/bookorder.h"

#include "util/qorext.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

// A folder holds at most this many names that count: a huge folder costs a
// bounded look, not a stall.
constexpr qsizetype kMaxNames = 20000;

QStringList SortedNames(const QString& folder, QDir::Filters filters) {
    QStringList names = QDir(folder).entryList(filters | QDir::NoDotAndDotDot, QDir::Unsorted);
    if (names.size() > kMaxNames) names.resize(kMaxNames);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return NaturalCompare(a, b) < 0; });
    return names;
}

void AddPlayable(const QString& folder, QStringList& out) {
    const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString& name : SortedNames(folder, QDir::Files)) {
        const QString path = base + name;
        if (IsPlayableFile(path) && !IsWholeBookFile(path)) out << path;
    }
}

const QRegularExpression& DiscPattern() {
    static const QRegularExpression disc(
        QStringLiteral("^(cd|dis[ck]|part|vol(ume)?)[\\s._-]*(\\d+)([\\s._-].*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return disc;
}

// The disc's number ("CD 2" is 2); -1 for a name that is no disc folder's.
qlonglong DiscNumber(const QString& name) {
    const QRegularExpressionMatch m = DiscPattern().match(name);
    return m.hasMatch() ? m.captured(3).left(9).toLongLong() : -1;
}

} // namespace

int NaturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Runs of digits compare by value: leading zeros aside, the longer is larger.
            qsizetype si = i, sj = j;
            while (si < a.size() && a[si] == QLatin1Char('0'))
                ++si;
            while (sj < b.size() && b[sj] == QLatin1Char('0'))
                ++sj;
            qsizetype ei = si, ej = sj;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            if (const int c =
                    QStringView(a).mid(si, ei - si).compare(QStringView(b).mid(sj, ej - sj)))
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a[i].toCaseFolded(), cb = b[j].toCaseFolded();
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    // Equal but for letter case or leading zeros: still one order, always the same.
    return a.compare(b);
}

bool IsDiscFolderName(const QString& name) {
    return DiscPattern().match(name).hasMatch();
}

QString BookFolder(const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    return IsDiscFolderName(QFileInfo(folder).fileName()) ? QFileInfo(folder).absolutePath()
                                                          : folder;
}

QStringList BookFiles(const QString& file) {
    const QString book = BookFolder(file);
    QStringList files;
    AddPlayable(book, files);
    const QString base = book.endsWith(QLatin1Char('/')) ? book : book + QLatin1Char('/');
    // Discs by their numbers, whatever the spelling ("CD 2" after "CD1").
    QStringList discs;
    for (const QString& name : SortedNames(book, QDir::Dirs))
        if (IsDiscFolderName(name)) discs << name;
    std::stable_sort(discs.begin(), discs.end(), [](const QString& a, const QString& b) {
        return DiscNumber(a) < DiscNumber(b);
    });
    for (const QString& name : discs)
        AddPlayable(base + name, files);
    return files;
}

QString NextFileOfBook(const QString& file) {
    const QStringList files = BookFiles(file);
    const QString self = QFileInfo(file).absoluteFilePath();
    const qsizetype at = files.indexOf(self);
    return at >= 0 && at + 1 < files.size() ? files[at + 1] : QString();
}

bool IsWholeBookFile(const QString& path) {
    return path.endsWith(QLatin1String(".m4b"), Qt::CaseInsensitive);
}
