#include "rename/composename.h"

#include "tags/fillrules.h"
#include "tags/id3v2/id3v2.h"

QString JoinNameFields(const QString (&values)[4], const QString& delim, const QString& ext) {
    QString name;
    for (const QString& v : values)
        if (!v.isEmpty()) name += delim + v;
    if (!name.isEmpty()) name.remove(0, delim.size());
    if (name.isEmpty()) name = QStringLiteral("audio_");
    return name + QLatin1Char('.') + ext;
}

QString ComposeName(const TMP3Rec& tag, const TNamePattern& pattern, const QString& ext) {
    QString values[4];
    for (int i = 0; i < 4; ++i) {
        switch (pattern.Slots[i]) {
        case ffArtist:
            values[i] = tag.Artist;
            break;
        case ffAlbum:
            values[i] = tag.Album;
            break;
        case ffTrack:
            values[i] = tag.Track;
            break;
        case ffTitle:
            values[i] = tag.Title;
            break;
        default:
            break;
        }
    }
    return JoinNameFields(values, pattern.Delim, ext);
}

QString ComposePatternName(const TNamePattern& pattern, const QString& ext) {
    const QStringList items = FillSlotItems();
    QString values[4];
    for (int i = 0; i < 4; ++i) {
        const int s = pattern.Slots[i];
        values[i] = s >= 0 && s < items.size() ? items[s] : QString();
        if (values[i].startsWith(QLatin1Char('-'))) values[i].clear();
    }
    return JoinNameFields(values, pattern.Delim, ext);
}

bool IsAllowedFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

unsigned FieldsCutShort(Tid3v2tag& tag) {
    static const struct {
        TFillField Field;
        const char* Frame;
    } frames[] = {{ffArtist, "TPE1"}, {ffAlbum, "TALB"}, {ffTrack, "TRCK"}, {ffTitle, "TIT2"}};
    unsigned out = 0;
    for (const auto& f : frames) {
        QString text;
        const uint8_t r = tag.GetTextFrame(QLatin1String(f.Frame), text);
        if (r != txtOk && r != txtNotFound && r != txtEmpty) out |= 1u << f.Field;
    }
    return out;
}

bool UsesCutShortField(const TNamePattern& pattern, unsigned cutShort) {
    for (int s : pattern.Slots)
        if (s >= ffArtist && s <= ffTitle && (cutShort & (1u << s))) return true;
    return false;
}
