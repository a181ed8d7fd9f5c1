#pragma once

#include <QString>

class TListeningSession;

// Writes CurrentTag into path; a player playing that file steps aside for the
// write and plays on afterwards. Shows "Error saving tag info." and the cause
// on a second line on failure.
void WriteTag(TListeningSession& session, const QString& path);
