#pragma once

#include <QString>

// Writes CurrentTag into path, closing the player for the write when it is
// playing that file and playing on afterwards; shows "Error saving tag info."
// and the cause on a second line on failure.
void WriteTag(const QString& path);
