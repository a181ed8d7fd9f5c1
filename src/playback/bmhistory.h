#pragma once
// Visited-files history (placeholder until history navigation lands).

#include <QString>
#include <QStringList>

class TBookmark;

class TBMHistory {
public:
    explicit TBMHistory(const QString& path) : Path(path) {}
    QString Path;
    QStringList Entries;
    int Cursor = -1;
    void Add(const QString&, int) {}
    void AddBookmark(const TBookmark&) {}
};
