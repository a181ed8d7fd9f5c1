#include "bookmarks/treefile.h"

#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

constexpr char16_t kMark = 0x200B; // ZERO WIDTH SPACE: keeps a leading blank a blank

QString decodeLine(const char* data, int len) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8(QByteArrayView(data, len));
    if (!utf8.hasError()) return s;
    return QString::fromLatin1(data, len);
}

} // namespace

bool ParseTreeText(const QByteArray& data, QVector<TTreeLine>& out, QString* error) {
    out.clear();
    // Levels of the path from the root to the last node: stack.back() is its level.
    int lastLevel = -1;
    const char* p = data.constData();
    const int n = data.size();
    int start = 0;
    auto line = [&](int from, int to) -> bool {
        int level = 0;
        while (from < to && (p[from] == '\t' || p[from] == ' ')) {
            ++level;
            ++from;
        }
        QString text = decodeLine(p + from, to - from);
        if (!text.isEmpty() && text[0] == QChar(kMark)) text.remove(0, 1);
        int actual;
        if (lastLevel < 0)
            actual = 0; // the first line is a root whatever its indent
        else if (level <= lastLevel + 1)
            actual = level;
        else {
            if (error)
                *error = QStringLiteral("Invalid level (%1) for item \"%2\"").arg(level).arg(text);
            return false;
        }
        out.append({actual, text});
        lastLevel = actual;
        return true;
    };
    for (int i = 0; i < n; ++i) {
        const char c = p[i];
        if (c != '\r' && c != '\n') continue;
        if (!line(start, i)) return false;
        if (c == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < n && !line(start, n)) return false;
    return true;
}

QByteArray RenderTreeText(const QVector<TTreeLine>& nodes) {
    QByteArray out;
    out.reserve(nodes.size() * 64);
    for (const TTreeLine& node : nodes) {
        out.append(QByteArray(node.Level, '\t'));
        QString text = node.Text;
        // A line break inside a text would split the node in two.
        text.replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (!text.isEmpty() && (text[0] == ' ' || text[0] == '\t' || text[0] == QChar(kMark)))
            text.prepend(QChar(kMark));
        out.append(text.toUtf8());
        out.append("\r\n", 2);
    }
    return out;
}

bool LoadTreeFile(const QString& path, QVector<TTreeLine>& out, QString* error) {
    out.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        if (error) *error = f.errorString();
        return false;
    }
    return ParseTreeText(data, out, error);
}

bool SaveTreeFile(const QString& path, const QVector<TTreeLine>& nodes, QString* error) {
    return ReplaceFile(path, RenderTreeText(nodes), error);
}

int64_t NodeRecordNumber(const QString& text) {
    const int len = text.size();
    if (len < 2) return 0;
    const int from = std::max(0, len - 9);
    return ParseLooseInt(text.mid(from, len - 1 - from));
}

QString BookmarkNodeText(const QString& description, int32_t recNo) {
    return description.left(std::max(0, int(description.size()) - 8)) +
           ZeroPadTo(QString::number(recNo), 7) + QStringLiteral("]");
}

QString ApplyNameMap(const QString& name, const QStringList& mapLines) {
    QString current = name;
    for (const QString& line : mapLines) {
        const int sep = line.indexOf(QLatin1String("___"));
        if (sep < 0) continue;
        if (QStringView(line).left(sep) == current) current = line.mid(sep + 3, 999);
    }
    return current;
}

bool AppendNameMap(const QString& mapPath, const QString& oldName, const QString& newName,
                   QString* error) {
    if (oldName == newName) return true;
    TSuperStringList lines;
    // A map that is there but cannot be read would be replaced by this one
    // line, losing every earlier author rename.
    if (QFileInfo::exists(mapPath) && !lines.LoadFromFile(mapPath)) {
        if (error) *error = QStringLiteral("Cannot read \"%1\"").arg(mapPath);
        return false;
    }
    lines.append(NameMapLine(oldName, newName));
    return lines.SaveToFile(mapPath, error);
}

TNameMap TNameMap::Load(const QString& mapPath) {
    TSuperStringList lines;
    lines.LoadFromFile(mapPath);
    return TNameMap(lines);
}

QString TNameMap::Apply(const QString& name) const {
    if (Lines.isEmpty()) return name;
    auto it = memo.constFind(name);
    if (it != memo.constEnd()) return it.value();
    const QString mapped = ApplyNameMap(name, Lines);
    memo.insert(name, mapped);
    return mapped;
}
