#pragma once

#include <QString>

class TListeningSession;
struct TFileTag;

// Saves the fields of tag that the caller changed into its file; a player
// playing that file steps aside for the write and plays on afterwards. Shows
// "Error saving tag info." and the cause on a second line on failure, and
// returns false then.
bool WriteTag(TListeningSession& session, const TFileTag& tag);
// The same for the shared tag record: CurrentTag into path, after ReadTag of path.
void WriteTag(TListeningSession& session, const QString& path);
