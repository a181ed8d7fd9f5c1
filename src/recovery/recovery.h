#pragma once
// Start-up recovery: what a run that ended part way (a kill, a crash, a power
// cut) left half done is finished or undone before anything reads the store,
// the tree or a tag.

#include <QString>

// For the data folder (ending in "/"): rolls the bookmark store back to where
// an unfinished command found it (the tree file then goes, to be built again),
// puts back the tag of a file whose save was cut short, finishes the
// repointing of a renamed file, and removes the program's leftover temporary
// files ("!.tmp", the data files' "Narrabel.xxx.XXXXXX"). The places log of a
// run that ended without its close goes into the places file, and the last
// place it noted becomes the resume point. Tag saves of this
// run keep their journal in this folder from now on. Returns one line for
// the status bar saying what was done, or an empty text when there was nothing.
QString RecoverWrites(const QString& dataFolder);

// The same for one audio file, for the command-line tool: an unfinished save
// of path is undone, from its own journal beside it and from the journal of
// dataFolder (when given) if that one is about path. Returns one line, or empty.
QString RecoverFile(const QString& path, const QString& dataFolder = {});
