// Placeholder until the ID3v2 library lands.
#include "tags/writetag.h"

#include "app/dialogs.h"
#include "tags/mp3.h"

void WriteTag(const QString& path) {
    if (SaveCurrentTag(path) >= 256) ShowMessage(QStringLiteral("Error saving tag info."));
}
