#pragma once
// The program's switches and tree font: one object, loaded and saved with the
// options file, read wherever a switch matters. The listening settings after
// the designed switches live in "Narrabel.ini" (see listeningsettings.h).

#include <QString>

struct TOptions {
    bool AlwaysInsert = false; // tag info always goes into bookmark descriptions
    bool AutoExtra = false;    // blank track seq/title also adds to the autolist
    bool MoreFormats = false;  // wav, avi, mpg/mpeg, mid/midi count as playable

    bool PlayOn = true;         // a file played to its end goes on into the next of its book
    bool RememberPlaces = true; // a file opened afresh plays from where it was left
    bool SmartRewind = true;    // Play after a long pause starts a little earlier
    int SkipBackSeconds = 15;
    int SkipForwardSeconds = 30;
    int SleepChoice = 0; // the sleep timer's last choice (minutes; 0 off, -1 end of file)
};

TOptions& AppOptions();
