// Playback strip of the main window: file box, player panel, status bar, timer.

#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "util/options.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>

namespace {

const QString kPlay = QStringLiteral("&Play");
const QString kPause = QStringLiteral("&Pause");

// A progress bar whose range is 0..0 turns into an animated "busy" bar in Qt;
// an empty 0..1 bar looks the same as an empty 0..0 one and stays still.
void SetProgressMax(QProgressBar* prg, int32_t length) {
    prg->setRange(0, std::max(length, 1));
}

} // namespace

void TfrmMain::SetStatus(int panel, const QString& text) {
    if (panel < 0 || panel > 2) return;
    sbPanels[panel]->setText(text);
    sb->repaint();
    QApplication::processEvents();
}

bool TfrmMain::OpenCurrentFile() {
    const QString file = cmbFile->currentText();
    if (file.isEmpty()) {
        mp->Close();
        prg->setValue(0);
        sbPos->setValue(0);
        sbPos->setMaximum(0);
        SetProgressMax(prg, 0);
        pnlPlay->hide();
        SetStatus(0, QStringLiteral("Stopped"));
        SetStatus(1, QStringLiteral("00:00"));
        SetStatus(2, QString());
        return true;
    }
    Updating = true;
    bool ok = true;
    try {
        pnlPlay->show();
        sbPos->setValue(0);
        mp->Close();
        mp->SetFileName(file);
        mp->Open();
        sbPos->setMaximum(mp->Length());
        SetProgressMax(prg, mp->Length());
        cmdPlay->setText(kPlay);
        SetStatus(2, ExtractFileName(file));
    } catch (const std::exception&) {
        // The caller decides; Resume, for one, stays silent.
        ok = false;
    }
    Updating = false;
    return ok;
}

void TfrmMain::PlayFrom(int32_t position) {
    tmr->stop();
    // Every jump reopens the file.
    mp->Close();
    mp->SetStartPos(position);
    mp->Open();
    mp->Play();
    cmdPlay->setText(kPause);
    SetStatus(0, QStringLiteral("Playing"));
    PlayedSinceMark = true;
    tmr->start();
    emit Jumped(position);
}

void TfrmMain::cmdPlayClick() {
    if (cmbFile->currentText().isEmpty()) return;
    if (cmdPlay->text() != kPlay) {
        if (mp->Mode() == TMediaPlayer::mpPlaying) mp->Pause();
        cmdPlay->setText(kPlay);
        SetStatus(0, QStringLiteral("Paused"));
    } else {
        // Played to the end: start again from the beginning.
        if (mp->Mode() == TMediaPlayer::mpStopped && mp->Position() == mp->Length())
            mp->SetPosition(0);
        if (mp->Mode() == TMediaPlayer::mpPaused)
            mp->Resume();
        else
            mp->Play();
        cmdPlay->setText(kPause);
        SetStatus(0, QStringLiteral("Playing"));
        // Listening started here (Play, Prev, Next) counts like a jump's.
        if (mp->Mode() == TMediaPlayer::mpPlaying) PlayedSinceMark = true;
    }
    if (mp->Mode() == TMediaPlayer::mpPlaying)
        tmr->start();
    else
        tmr->stop();
}

void TfrmMain::tmrTimer() {
    TimedExitTick();
    const int mode = mp->Mode();
    if (mode == TMediaPlayer::mpStopped) {
        // Played to the end; the bars stay where the last tick put them.
        tmr->stop();
        cmdPlay->setText(kPlay);
        SetStatus(0, QStringLiteral("Stopped"));
        SetStatus(1, FormatMinSec(mp->Position()));
    } else if (mode != TMediaPlayer::mpPaused) {
        Updating = true;
        const int32_t position = mp->Position();
        prg->setValue(position);
        // A thumb the user holds stays where the user holds it, for the drop.
        if (!sbPos->isSliderDown()) sbPos->setValue(position);
        SetStatus(1, FormatMinSec(position));
        Updating = false;
    }
}

void TfrmMain::mpLengthKnown(int32_t length) {
    // The open file's frames have been counted: the bars span all of it now.
    const QScopedValueRollback<bool> updating(Updating, true);
    sbPos->setMaximum(length);
    SetProgressMax(prg, length);
}

void TfrmMain::sbPosChange() {
    if (mp->Mode() == TMediaPlayer::mpPlaying && !Updating) PlayFrom(sbPos->value());
}

void TfrmMain::cmdBrowseClick() {
    const int filterIndex = AppOptions().MoreFormats ? 2 : 1;
    const QString current = cmbFile->currentText().trimmed();
    const QString folder = current.isEmpty() ? QString() : ExtractFilePath(current);
    const std::optional<QString> chosen =
        Dlg().OpenFile(this, QStringLiteral("Open"), folder, DlgOpenFilter(), filterIndex);
    if (!chosen) return;
    AskBookmarkProgress();
    const QString path = *chosen;
    cmbFile->setEditText(path);
    AddRecentFile();
    const QString found = FindOrAddStartBookmark(path);
    if (!found.isEmpty()) {
        SelectNodeByText(found);
        GoToSelectedBookmark();
        if (History) History->Add(path, mp->Position());
    } else {
        OpenCurrentFile();
        cmdPlay->setText(kPause);
        PlayFrom(0);
        if (History) History->Add(path, 1);
    }
}

void TfrmMain::cmbFileChange() {
    const QString file = cmbFile->currentText();
    if (!file.isEmpty() && QFileInfo(file).isFile()) OpenCurrentFile();
}

void TfrmMain::cmbFileSelect() {
    const QString file = cmbFile->currentText();
    FindOrAddStartBookmark(file);       // stores a start bookmark for a file that has none
    if (History) History->Add(file, 1); // gone once the window has closed
    OpenCurrentFile();
    cmdPlay->setText(kPause);
    PlayFrom(0);
}

void TfrmMain::AskBookmarkProgress() {
    if (!PlayedSinceMark) return;
    const QDateTime now = QDateTime::currentDateTime();
    const int64_t elapsed = std::llround(double(LastMarkTime.msecsTo(now)) / 1000.0);
    const int mode = mp->Mode();
    if ((mode == TMediaPlayer::mpPlaying || mode == TMediaPlayer::mpPaused) && elapsed > 15 &&
        AskYesNo(QStringLiteral("Bookmark progress?"))) {
        QTreeWidgetItem* node = tv->currentItem();
        const bool hadSelection = node && node->isSelected();
        const QString selected = hadSelection ? node->text(0) : QString();
        cmdBookmarkClick();
        if (hadSelection) SelectNodeByText(selected);
    }
    LastMarkTime = QDateTime::currentDateTime();
}

void TfrmMain::ArrangeControls() {
    // The layouts already span the bars across the window (less its margins)
    // and keep Close and About at the right edge on every resize.
}
