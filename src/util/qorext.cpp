#include "util/qorext.h"

#include "util/journal.h"
#include "util/options.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTime>
#include <cstring>
#include <sys/xattr.h>
#include <vector>

namespace {
bool isTrimmable(QChar c) {
    return c.unicode() <= 32;
}
} // namespace

QString TrimCtl(const QString& text) {
    int b = 0, e = text.size();
    while (b < e && isTrimmable(text[b]))
        ++b;
    while (e > b && isTrimmable(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

void TSuperStringList::AddFiles(QString folder, const QString& mask, unsigned attrs,
                                bool withFolder) {
    if (!folder.endsWith('/')) folder += '/';
    QDir dir(folder);
    if (!dir.exists()) return;
    // Regular files only (links to them included): FIFOs, sockets, devices and
    // broken links are no audio, and reading a FIFO would block.
    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (attrs & faDirectory) filters |= QDir::Dirs;
    if (attrs & faHidden) filters |= QDir::Hidden;
    dir.setFilter(filters);
    dir.setSorting(QDir::Unsorted);
    dir.setNameFilters({mask});
    // Name filters in QDir are case-insensitive by default, as the masks expect.
    for (const QFileInfo& fi : dir.entryInfoList()) {
        if (!fi.isFile() && !fi.isDir()) continue; // a link to a FIFO, say
        append(withFolder ? folder + fi.fileName() : fi.fileName());
    }
}

QStringList TSuperStringList::SplitLines(const QByteArray& data) {
    QStringList out;
    int start = 0;
    const int n = data.size();
    for (int i = 0; i < n; ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') {
            out.append(QString::fromUtf8(data.constData() + start, i - start));
            if (c == '\r' && i + 1 < n && data[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) out.append(QString::fromUtf8(data.constData() + start, n - start));
    return out;
}

bool TSuperStringList::LoadFromFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) return false;
    QStringList lines = SplitLines(data);
    clear();
    append(lines);
    return true;
}

QString TSuperStringList::Text() const {
    QString t;
    for (const QString& s : *this)
        t += s + QStringLiteral("\r\n");
    return t;
}

bool TSuperStringList::SaveToFile(const QString& path, QString* error) const {
    return ReplaceFile(path, Text().toUtf8(), error);
}

bool ReplaceFile(const QString& path, const QByteArray& data, QString* error) {
    QSaveFile f(path);
    // Unbuffered, so that a short write fails here: a buffered one would only
    // fail in the flush inside commit(), which renames the cut file over the
    // old one all the same. Not committed, the temporary file is removed.
    if (f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && f.write(data) == data.size() &&
        f.error() == QFileDevice::NoError && f.commit()) {
        // The commit synced the file; the folder makes the new name last too.
        SyncFolder(FolderOf(path));
        return true;
    }
    if (error)
        *error = QStringLiteral("Cannot write \"%1\": %2")
                     .arg(QDir::toNativeSeparators(path), f.errorString());
    return false;
}

int64_t ParseLooseInt(const QString& text) {
    QString digits;
    bool neg = false;
    for (QChar c : text) {
        if (c == '-')
            neg = true;
        else if (c >= '0' && c <= '9')
            digits += c;
    }
    int i = 0;
    while (i < digits.size() && digits[i] == '0')
        ++i;
    digits = digits.mid(i);
    if (digits.isEmpty()) return 0;
    bool ok = false;
    qlonglong v = (neg ? QStringLiteral("-") + digits : digits).toLongLong(&ok);
    return ok ? v : 0;
}

QString FormatThousands(const QString& text) {
    QString intPart, frac;
    int dot = text.indexOf('.');
    if (dot >= 0) {
        frac = text.mid(dot, 9);
        intPart = TrimCtl(text.left(dot));
    } else {
        intPart = TrimCtl(text);
    }
    if (intPart.isEmpty()) return QStringLiteral("0");
    bool neg = false;
    if (intPart.startsWith('-')) {
        neg = true;
        intPart.remove(0, 1);
    }
    QString out;
    const int n = intPart.size();
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += ',';
        out += intPart[i];
    }
    return (neg ? QStringLiteral("-") : QString()) + out + frac;
}

QString PadRightTo(const QString& text, int width) {
    return text.left(std::max(width, 0)).leftJustified(width, ' ');
}

QString PadLeftTo(const QString& text, int width) {
    return text.left(std::max(width, 0)).rightJustified(width, ' ');
}

QString ZeroPadTo(const QString& text, int width) {
    return TrimCtl(text).rightJustified(width, '0');
}

QString FieldFromLeft(const QString& text, int n, QChar delim) {
    QString field;
    int counter = 1;
    bool content = false;
    for (QChar c : text) {
        if (c != delim) {
            content = true;
            field += c;
        } else if (content) {
            if (counter == n) return field;
            field.clear();
            ++counter;
            content = false;
        } else {
            field += c;
        }
    }
    return counter == n ? field : QString();
}

QString FieldFromRight(const QString& text, int n, QChar delim) {
    if (TrimCtl(text).isEmpty() || n < 1) return {};
    QString field;
    int counter = 0;
    for (int i = text.size() - 1; i >= 0; --i) {
        if (text[i] != delim) {
            field.prepend(text[i]);
        } else if (++counter == n) {
            return field;
        } else {
            field.clear();
        }
    }
    return {};
}

QString TextBetween(const QString& text, const QString& open, const QString& close) {
    int p = text.indexOf(open);
    if (p < 0) return {};
    int q = text.indexOf(close);
    int from = p + open.size();
    if (q >= p) return text.mid(from, std::max(q - from, 0));
    return text.mid(from);
}

QString FormatMsDuration(uint32_t ms) {
    const uint32_t msPerDay = 86400u * 1000u;
    uint32_t days = ms / msPerDay;
    uint32_t rest = ms % msPerDay;
    QTime t = QTime(0, 0).addMSecs(int(rest));
    return QStringLiteral("%1:%2:%3:%4.%5")
        .arg(days)
        .arg(t.hour(), 2, 10, QChar('0'))
        .arg(t.minute(), 2, 10, QChar('0'))
        .arg(t.second(), 2, 10, QChar('0'))
        .arg(t.msec());
}

QString FormatMinSec(int32_t ms) {
    return FormatMsDuration(uint32_t(ms)).mid(5, 5);
}

QString SpecialFolderPath(int kind) {
    QString path;
    auto first = [](QStandardPaths::StandardLocation loc) {
        QStringList l = QStandardPaths::standardLocations(loc);
        return l.isEmpty() ? QString() : l.first();
    };
    switch (kind) {
    case 0:
        path = first(QStandardPaths::DesktopLocation);
        break;
    case 2:
        path = first(QStandardPaths::ApplicationsLocation);
        break;
    case 4:
        path = first(QStandardPaths::DocumentsLocation);
        break;
    case 5:
        path = first(QStandardPaths::GenericConfigLocation);
        break;
    case 6:
        path = first(QStandardPaths::FontsLocation);
        break;
    case 10:
        path = first(QStandardPaths::GenericCacheLocation);
        break;
    case 16:
        path = first(QStandardPaths::GenericDataLocation);
        break;
    case 19:
        path = QDir::tempPath();
        break;
    case 21:
        path = QStringLiteral("/usr/bin");
        break;
    case 22:
        path = QStringLiteral("/usr/lib");
        break;
    case 25:
        path = first(QStandardPaths::MusicLocation);
        break;
    case 26:
        path = first(QStandardPaths::PicturesLocation);
        break;
    default:
        break;
    }
    if (!path.isEmpty() && !path.endsWith('/')) path += '/';
    return path;
}

const QStringList& BookExtensions() {
    static const QStringList extensions{
        QStringLiteral("m4b"), QStringLiteral("m4a"), QStringLiteral("aac"), QStringLiteral("opus"),
        QStringLiteral("ogg"), QStringLiteral("oga"), QStringLiteral("flac")};
    return extensions;
}

bool IsPlayableFile(const QString& path) {
    QString ext = FieldFromRight(path, 1, '.');
    if (ext == QLatin1String("mp3")) return true;
    // Audio books in their own containers, always and in any letter case.
    if (BookExtensions().contains(ext, Qt::CaseInsensitive)) return true;
    if (AppOptions().MoreFormats && !ext.isEmpty())
        return QStringLiteral("wav-avi-mpg-mpeg-mid-midi").contains(ext);
    return false;
}

QString ExtractFileName(const QString& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

QString ExtractFilePath(const QString& path) {
    return path.left(path.lastIndexOf('/') + 1);
}

void ReadBoundedLines(QIODevice& f, int maxLines, int maxLineBytes,
                      const std::function<bool(const QByteArray& line)>& take) {
    for (int lines = 0; lines < maxLines && !f.atEnd(); ++lines) {
        QByteArray line = f.readLine(maxLineBytes + 2);
        if (!line.endsWith('\n') && !f.atEnd()) {
            while (!f.atEnd() && !f.readLine(64 * 1024).endsWith('\n')) {
            }
            continue;
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (!take(line)) return;
    }
}

void CopyExtendedAttributes(int from, int to) {
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0) return;
    std::vector<char> names(size_t(size) + 1, '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size() - 1);
    for (ssize_t k = 0; k < got;) {
        const char* name = names.data() + k;
        k += ssize_t(std::strlen(name)) + 1;
        const ssize_t n = ::fgetxattr(from, name, nullptr, 0);
        if (n < 0) continue;
        std::vector<char> value(size_t(n) + 1);
        const ssize_t m = ::fgetxattr(from, name, value.data(), value.size());
        if (m >= 0) ::fsetxattr(to, name, value.data(), size_t(m), 0);
    }
}
