#include "playback/chapterlist.h"

#include "playback/chapternav.h"
#include "playback/clocktext.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>

TChapterListModel::TChapterListModel(TChapterNav& chapters, QObject* parent)
    : QAbstractTableModel(parent), nav(chapters) {
    connect(&nav, &TChapterNav::RowsChanged, this, &TChapterListModel::reset);
    connect(&nav, &TChapterNav::CurrentChanged, this, &TChapterListModel::currentChanged);
    reset();
}

void TChapterListModel::reset() {
    beginResetModel();
    shownCurrent = nav.Current();
    int64_t longest = 0;
    for (const TBookChapter& c : nav.Rows())
        longest = std::max<int64_t>(longest, nav.FilesAsChapters() && c.BookStart >= 0
                                                 ? c.BookStart + std::max(c.Length, 0)
                                                 : int64_t(c.Start) + std::max(c.Length, 0));
    hours = longest >= 3600000;
    endResetModel();
}

void TChapterListModel::currentChanged(int row) {
    // Only the two rows whose look changes are repainted.
    const int before = std::exchange(shownCurrent, row);
    for (int r : {before, row})
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r, 0), index(r, ColumnCount - 1),
                             {Qt::FontRole, Qt::BackgroundRole});
}

int TChapterListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(nav.Rows().size());
}

int TChapterListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TChapterListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= nav.Rows().size()) return {};
    const TBookChapter& c = nav.Rows()[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColTitle:
            return c.Title;
        case ColStart: {
            // A book of files counts from the book's start, chapters of a
            // file from the file's.
            const int64_t start = nav.FilesAsChapters() ? c.BookStart : c.Start;
            return start >= 0 ? FormatClock(start, hours) : QString();
        }
        case ColLength:
            return c.Length >= 0 ? FormatClock(c.Length, hours) : QString();
        }
        return {};
    case Qt::ToolTipRole:
        return index.column() == ColTitle ? QVariant(c.Title) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == ColTitle ? QVariant()
                                          : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    case Qt::FontRole:
        if (index.row() == shownCurrent) {
            QFont bold; // only the weight: the view's font gives the rest
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::BackgroundRole:
        if (index.row() == shownCurrent) {
            QColor tint = QGuiApplication::palette().color(QPalette::Highlight);
            tint.setAlpha(48);
            return tint;
        }
        return {};
    default:
        return {};
    }
}

QVariant TChapterListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case ColTitle:
        return QStringLiteral("Chapter");
    case ColStart:
        return QStringLiteral("Start");
    case ColLength:
        return QStringLiteral("Length");
    }
    return {};
}
