#pragma once
// "Narrabel.ini" in the data folder: the listening settings that came after
// the designed options (play on, places, rewind, skip amounts, the sleep
// timer's last choice), as a QSettings INI file. Keys it does not know are
// kept as they are; the file is replaced in one step.

#include <QString>

struct TOptions;

QString ListeningSettingsFileName(); // "Narrabel.ini"
// Sets the listening fields of options from the file; a missing file or key,
// or a value out of range, gives the field its default.
void LoadListeningSettings(const QString& path, TOptions& options);
// False (a message in *error) when the file cannot be written.
bool SaveListeningSettings(const QString& path, const TOptions& options, QString* error = nullptr);

// Whether the chapter list beside the tree is shown ([Window] ChapterList):
// shown when the file does not say.
bool LoadChapterListShown(const QString& path);
// False when the file cannot be written.
bool SaveChapterListShown(const QString& path, bool shown);
