#pragma once
// The chapter list on screen: a table model over the book's chapters (title,
// start, length) with the chapter playing in bold, so that thousands of rows
// cost one row's paint each.

#include <QAbstractTableModel>

class TChapterNav;

class TChapterListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTitle, ColStart, ColLength, ColumnCount };

    explicit TChapterListModel(TChapterNav& chapters, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void reset();
    void currentChanged(int row);

    TChapterNav& nav;
    int shownCurrent = -1;
    bool hours = false; // the times need hours
};
