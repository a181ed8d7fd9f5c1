#pragma once
// Proposes the four main tag fields of a file from its name and its folder path:
// the name is split by a pattern of four slots and a delimiter, and a folder rule
// takes author and book title from the folder names.

#include <QString>
#include <QStringList>

// What a pattern slot stands for; the values are the slot lists' item indexes.
enum TFillField : int { ffArtist = 0, ffAlbum = 1, ffTrack = 2, ffTitle = 3, ffNone = 4 };

// The slot lists' items, in index order ("Artist/Author" ... "-").
QStringList FillSlotItems();
// The folder rules' items, in index order ("Ignore the path name" ...).
QStringList FolderRuleItems();

struct TFillPattern {
    int Slots[4] = {ffArtist, ffAlbum, ffTrack, ffTitle};
    // Only the first character splits; an empty delimiter leaves the name unsplit.
    QString Delim = QStringLiteral("-");
    int FolderRule = 0; // 0..6, see FolderRuleItems
};

struct TFillResult {
    QString Artist;
    QString Album;
    QString Track;
    QString Title;
};

// The first unbroken run of decimal digits in text; empty when there is none.
QString FirstDigitRun(const QString& text);

// fileName: the name without its extension; folder: the file's folder path,
// as a rule without a trailing "/".
TFillResult FillFromFileInfo(const QString& fileName, const QString& folder,
                             const TFillPattern& pattern);
