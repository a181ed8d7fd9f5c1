#include "playback/listeningsettings.h"

#include "playback/sleeptimer.h"
#include "util/journal.h"
#include "util/options.h"

#include <QDir>
#include <QSettings>

namespace {

int Bounded(const QSettings& s, const char* key, int fallback, int low, int high) {
    bool ok = false;
    const int v = s.value(QLatin1String(key)).toInt(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

bool Switch(const QSettings& s, const char* key, bool fallback) {
    const QVariant v = s.value(QLatin1String(key));
    const QString text = v.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) return true;
    if (text == QLatin1String("false") || text == QLatin1String("0")) return false;
    return fallback;
}

} // namespace

QString ListeningSettingsFileName() {
    return QStringLiteral("Narrabel.ini");
}

void LoadListeningSettings(const QString& path, TOptions& o) {
    const TOptions d;
    QSettings s(path, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("Listening"));
    o.PlayOn = Switch(s, "PlayOn", d.PlayOn);
    o.RememberPlaces = Switch(s, "RememberPlaces", d.RememberPlaces);
    o.SmartRewind = Switch(s, "SmartRewind", d.SmartRewind);
    o.SkipBackSeconds = Bounded(s, "SkipBackSeconds", d.SkipBackSeconds, 1, 3600);
    o.SkipForwardSeconds = Bounded(s, "SkipForwardSeconds", d.SkipForwardSeconds, 1, 3600);
    o.SleepChoice = Bounded(s, "SleepTimer", d.SleepChoice, TSleepTimer::EndOfChapter, 24 * 60);
    if (!TSleepTimer::Choices().contains(o.SleepChoice)) o.SleepChoice = d.SleepChoice;
}

bool SaveListeningSettings(const QString& path, const TOptions& o, QString* error) {
    {
        QSettings s(path, QSettings::IniFormat);
        // Written to a temporary file beside it and renamed over it.
        s.setAtomicSyncRequired(true);
        s.beginGroup(QStringLiteral("Listening"));
        s.setValue(QStringLiteral("PlayOn"), o.PlayOn);
        s.setValue(QStringLiteral("RememberPlaces"), o.RememberPlaces);
        s.setValue(QStringLiteral("SmartRewind"), o.SmartRewind);
        s.setValue(QStringLiteral("SkipBackSeconds"), o.SkipBackSeconds);
        s.setValue(QStringLiteral("SkipForwardSeconds"), o.SkipForwardSeconds);
        s.setValue(QStringLiteral("SleepTimer"), o.SleepChoice);
        s.endGroup();
        s.sync();
        if (s.status() != QSettings::NoError) {
            if (error)
                *error = QStringLiteral("Cannot write \"%1\"").arg(QDir::toNativeSeparators(path));
            return false;
        }
    }
    SyncFolder(FolderOf(path)); // the new name lasts too
    return true;
}

bool LoadChapterListShown(const QString& path) {
    if (path.isEmpty()) return true;
    QSettings s(path, QSettings::IniFormat);
    return Switch(s, "Window/ChapterList", true);
}

bool SaveChapterListShown(const QString& path, bool shown) {
    if (path.isEmpty()) return false;
    {
        QSettings s(path, QSettings::IniFormat);
        s.setAtomicSyncRequired(true);
        s.setValue(QStringLiteral("Window/ChapterList"), shown);
        s.sync();
        if (s.status() != QSettings::NoError) return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}
