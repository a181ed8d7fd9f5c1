#pragma once
// The files of a book in listening order: the playable files of the book's
// folder and then those of its disc folders ("CD1", "CD 2", "Disc 3",
// "part 4" and the like, directly under it), each folder in natural order of
// names ("2" before "10", letters without regard to case).

#include <QString>
#include <QStringList>

// Below 0, 0 or above 0 as a sorts before, with or after b in natural order.
int NaturalCompare(const QString& a, const QString& b);
// A folder name such as "CD1", "cd 02", "Disc 3", "Disk_4", "part 5", "Vol. 6".
bool IsDiscFolderName(const QString& name);
// The book folder of a file: its folder, or the folder above when that is a
// disc folder.
QString BookFolder(const QString& file);
// Every playable file of the book that file belongs to, in listening order.
QStringList BookFiles(const QString& file);
// The file that follows file in its book; empty after the last one, or when
// file is not one of the book's playable files.
QString NextFileOfBook(const QString& file);
// An M4B holds a whole book (with its chapters) in one file: play on never
// goes from it into another file, nor from another file into it.
bool IsWholeBookFile(const QString& path);
