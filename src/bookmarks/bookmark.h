#pragma once
// Bookmark record and store (placeholder until the store lands).

#include <QString>
#include <cstdint>

struct TBookmarkRec {
    int32_t RecNo = 0;
    QString FilePath;
    QString Stamp;
    QString Description;
    int32_t Position = 0;
};

class TBookmark {
public:
    TBookmarkRec Rec;
    bool Valid = false;
};
