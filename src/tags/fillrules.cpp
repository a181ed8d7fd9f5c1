#include "tags/fillrules.h"

#include "util/qorext.h"

namespace {

const QString kNF = QStringLiteral("[NF]");

QString* FieldOf(TFillResult& r, int slot) {
    switch (slot) {
    case ffArtist:
        return &r.Artist;
    case ffAlbum:
        return &r.Album;
    case ffTrack:
        return &r.Track;
    case ffTitle:
        return &r.Title;
    default:
        return nullptr;
    }
}

QString FolderName(const QString& folder, int fromRight) {
    return FieldFromRight(folder, fromRight, QChar('/'));
}

// Text in round brackets, else in curly ones; also says which opening mark won.
QString BracketText(const QString& name, QString* openMark = nullptr) {
    QString t = TextBetween(name, QStringLiteral("("), QStringLiteral(")"));
    if (!t.isEmpty()) {
        if (openMark) *openMark = QStringLiteral("(");
        return t;
    }
    if (openMark) *openMark = QStringLiteral("{");
    return TextBetween(name, QStringLiteral("{"), QStringLiteral("}"));
}

} // namespace

QStringList FillSlotItems() {
    return {QStringLiteral("Artist/Author"), QStringLiteral("Album/Book Title"),
            QStringLiteral("Track/Seq"), QStringLiteral("Track Title"), QStringLiteral("-")};
}

QStringList FolderRuleItems() {
    return {QStringLiteral("Ignore the path name"),
            QStringLiteral("Current depth contains artist/author"),
            QStringLiteral("Current depth contains album/book title"),
            QStringLiteral("Current depth contains both"),
            QStringLiteral("Use \\Author\\Title structure"),
            QStringLiteral("Use \\Author\\Title\\Parts structure"),
            QStringLiteral("Observe the consequences of the Last Resort")};
}

QString FirstDigitRun(const QString& text) {
    QString run;
    for (QChar c : text) {
        if (c >= QChar('0') && c <= QChar('9'))
            run += c;
        else if (!run.isEmpty())
            break;
    }
    return run;
}

TFillResult FillFromFileInfo(const QString& fileName, const QString& folder,
                             const TFillPattern& pattern) {
    TFillResult r;

    // The name's parts by slot; a later slot naming the same field wins.
    if (!pattern.Delim.isEmpty()) {
        const QChar d = pattern.Delim.at(0);
        for (int i = 0; i < 4; ++i)
            if (QString* f = FieldOf(r, pattern.Slots[i])) *f = FieldFromLeft(fileName, i + 1, d);
    }

    const QString last = FolderName(folder, 1);
    switch (pattern.FolderRule) {
    case 1:
        r.Artist = BracketText(last);
        break;
    case 2:
        r.Album = BracketText(last);
        break;
    case 3: {
        QString mark;
        r.Artist = BracketText(last, &mark);
        const int at = last.indexOf(mark);
        r.Album = at < 0 ? QString() : last.left(at);
        break;
    }
    case 4:
        r.Album = last;
        r.Artist = FolderName(folder, 2);
        break;
    case 5: {
        r.Album = FolderName(folder, 2);
        r.Artist = FolderName(folder, 3);
        const QString part = FirstDigitRun(last);
        if (!part.isEmpty()) r.Album += QStringLiteral(" (") + part + QStringLiteral(")");
        break;
    }
    case 6:
        r.Artist = r.Album = folder;
        break;
    default:
        break;
    }

    if (r.Track.isEmpty()) r.Track = FirstDigitRun(fileName);

    r.Artist = TrimCtl(r.Artist);
    r.Album = TrimCtl(r.Album);
    r.Track = TrimCtl(r.Track);
    r.Title = TrimCtl(r.Title);

    if ((folder.contains(kNF) || fileName.contains(kNF)) && !r.Album.contains(kNF))
        r.Album += QStringLiteral(" ") + kNF;
    return r;
}
