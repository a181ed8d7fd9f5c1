#include "rename/composename.h"

#include "bookmarks/bookmark.h"
#include "tags/fillrules.h"
#include "util/qorext.h"

namespace {

// Longest name a folder entry may have, in bytes of its UTF-8 form.
constexpr int kNameMax = 255;

// A track as names show it: "1/12" (track and total) names track 1, padded
// as a read track is.
QString TrackForName(const QString& track) {
    const int slash = track.indexOf(QLatin1Char('/'));
    return slash < 0 ? track : ZeroPadTo(track.left(slash), 2);
}

} // namespace

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
            values[i] = TrackForName(tag.Track);
            break;
        case ffTitle:
            values[i] = tag.Title;
            break;
        default:
            break;
        }
    }
    QString name = JoinNameFields(values, pattern.Delim, ext);
    // What cannot stand in a name here becomes "-", so the name proposed is
    // the name given.
    for (QChar& c : name)
        if (c == QLatin1Char('/') || c.unicode() == 0) c = QLatin1Char('-');
    // Too long for a folder entry: the part before the extension is cut,
    // never inside a character.
    if (name.size() > kNameMax / 3 && name.toUtf8().size() > kNameMax) {
        const QString tail = QLatin1Char('.') + ext;
        name = CutUtf8(name.left(name.size() - tail.size()), kNameMax - int(tail.toUtf8().size())) +
               tail;
    }
    return name;
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

bool UsesCutShortField(const TNamePattern& pattern, unsigned cutShort) {
    for (int s : pattern.Slots)
        if (s >= ffArtist && s <= ffTitle && (cutShort & (1u << s))) return true;
    return false;
}
