#include "playback/clocktext.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

QString FormatClock(int64_t ms, bool withHours) {
    const int64_t s = std::max<int64_t>(ms, 0) / 1000;
    const QChar zero = QLatin1Char('0');
    if (!withHours) return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, zero);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, zero)
        .arg(s % 60, 2, 10, zero);
}

QString ClockText(int32_t position, int32_t length, double speed) {
    const bool hours = length >= 3600000 || position >= 3600000;
    QString text =
        FormatClock(position, hours) + QStringLiteral(" / ") + FormatClock(length, hours);
    if (speed != 1.0) text += QStringLiteral(" (%1x)").arg(speed, 0, 'f', 1);
    return text;
}

std::optional<int64_t> ParseClockOffset(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,6})(:\\d{1,2}){1,2}\\s*$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    const QStringList fields = text.trimmed().split(QLatin1Char(':'));
    int64_t total = fields[0].toLongLong();
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const int64_t v = fields[i].toLongLong();
        if (v >= 60) return -1;
        total = total * 60 + v;
    }
    return total * 1000;
}
