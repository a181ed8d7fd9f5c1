#pragma once
// The Options dialog: the bookmark tree's font and the three switches. Its
// four option controls are what "Narrabel.opt" stores (see optionsfile.h);
// the switches are mirrored into AppOptions() whenever they change. Beneath
// them, the listening switches, which "Narrabel.ini" keeps (the listening
// session loads and saves them): shown from AppOptions() whenever the window
// opens, written back when they change.

#include "playback/optionsfile.h"

#include <QDialog>
#include <QFont>

class QCheckBox;
class QLabel;
class QPushButton;

class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent = nullptr);

    // The option controls as the options file holds them, and back (entries
    // the window does not show, such as the designed geometry, are kept).
    TOptionsFile Options() const;
    void SetOptions(const TOptionsFile& options);
    // The font panel's font: the tree font from now on.
    QFont PanelFont() const;
    // The tree's font as the main window uses it, named when the window opens.
    void SetTreeFont(const QFont& font) { treeFont = font; }

    static QFont FontFromProps(const TFontProps& props);
    static TFontProps PropsFromFont(const QFont& font);
    // Whole points of a font, whether it was given in points or pixels.
    static int FontPoints(const QFont& font);

    void FormActivate();
    void cmdFontClick();
    void cmdCloseClick();
    void FormClose();

    QLabel* lblTVFont = nullptr;
    QLabel* pnlFont = nullptr;
    QPushButton* cmdFont = nullptr;
    QCheckBox* chkAlwaysInsert = nullptr;
    QCheckBox* chkAutoExtra = nullptr;
    QCheckBox* chkMoreFormats = nullptr;
    QCheckBox* chkPlayOn = nullptr;
    QCheckBox* chkRememberPlaces = nullptr;
    QCheckBox* chkSmartRewind = nullptr;
    QPushButton* cmdClose = nullptr;

signals:
    // The window closed with this font for the tree.
    void TreeFontChosen(const QFont& font);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void syncSwitches();
    void showListening();
    TOptionsFile kept;
    QFont treeFont;
    bool centred = false;
};
