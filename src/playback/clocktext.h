#pragma once
// Times as a listener reads them: "2:03", "1:02:03", "1:02:03 / 10:15:00",
// and typed offsets such as "10:00" (ten minutes) or "1:02:03".

#include <QString>
#include <cstdint>
#include <optional>

// "m:ss", or "h:mm:ss" with hours (whole seconds, cut).
QString FormatClock(int64_t ms, bool withHours);
// "position / length", with hours when the file is an hour or longer, and
// the speed after it when it is not 1.0 ("1:02:03 / 10:15:00 (1.3x)").
QString ClockText(int32_t position, int32_t length, double speed);
// An offset typed as "m:ss" or "h:mm:ss" (minutes and seconds below 60 after
// the first field), in milliseconds. Nothing when the text is not a time of
// that form; -1 when it has the form but a field is out of range.
std::optional<int64_t> ParseClockOffset(const QString& text);
