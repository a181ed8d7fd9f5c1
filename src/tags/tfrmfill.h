#pragma once

#include <QDialog>

class QLabel;

class TfrmFill : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFill(QWidget* parent = nullptr);
    QLabel* pnlFile = nullptr;
    QLabel* pnlFolder = nullptr;
    QLabel* pnlArtist = nullptr;
    QLabel* pnlAlbum = nullptr;
    QLabel* pnlTrack = nullptr;
    QLabel* pnlTTitle = nullptr;
};
