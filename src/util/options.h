#pragma once
// The program's switches and tree font: one object, loaded and saved with the
// options file, read wherever a switch matters.

#include <QString>

struct TOptions {
    bool AlwaysInsert = false; // tag info always goes into bookmark descriptions
    bool AutoExtra = false;    // blank track seq/title also adds to the autolist
    bool MoreFormats = false;  // wav, avi, mpg/mpeg, mid/midi count as playable
};

TOptions& AppOptions();
