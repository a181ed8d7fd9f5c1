// Resume point, recent files and the saved tree selection, and how every path
// the program remembers follows a file that it renamed.

#include "app/tfrmmain.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "util/errors.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <exception>

namespace {

const int kMaxRecentFiles = 30;
const int32_t kResumeLeadMs = 2500; // resume a little before where listening stopped
const int32_t kResumeMinMs = 10;

// Replaces the file with these lines; an error reaches the default error box.
void writeLines(const QString& path, const QStringList& lines) {
    TSuperStringList list;
    list.append(lines);
    QString error;
    if (!list.SaveToFile(path, &error)) throw NarrabelError(error);
}

// The recent list as "Narrabel.hst" holds it; errors are ignored.
void saveRecentRows(const QComboBox* box, const QString& dataFolder) {
    if (dataFolder.isEmpty()) return;
    TSuperStringList rows;
    for (int i = 0; i < box->count(); ++i)
        rows << box->itemText(i);
    rows.SaveToFile(dataFolder + QStringLiteral("Narrabel.hst"));
}

} // namespace

int32_t TfrmMain::ResumePositionFor(int32_t position) {
    const int64_t p = int64_t(position) - kResumeLeadMs;
    return int32_t(p < kResumeMinMs ? kResumeMinMs : p);
}

void TfrmMain::SaveResumePoint() {
    if (DataFolder.isEmpty()) return;
    const QString file = cmbFile->currentText();
    writeLines(DataFolder + QStringLiteral("Narrabel.rsm"),
               {file, QString::number(ResumePositionFor(mp->Position()))});
    cmdResume->setToolTip(ExtractFileName(file));
}

void TfrmMain::LoadResumeHint() {
    if (DataFolder.isEmpty()) return;
    TSuperStringList lines;
    if (lines.LoadFromFile(DataFolder + QStringLiteral("Narrabel.rsm")) && !lines.isEmpty())
        cmdResume->setToolTip(ExtractFileName(lines.first()));
}

void TfrmMain::cmdResumeClick() {
    TSuperStringList lines;
    if (!lines.LoadFromFile(DataFolder + QStringLiteral("Narrabel.rsm")))
        throw NarrabelError(
            QStringLiteral("Cannot read \"%1\"").arg(DataFolder + QStringLiteral("Narrabel.rsm")));
    cmbFile->setEditText(lines.value(0));
    const QString posText = lines.value(1);
    const bool opened = OpenCurrentFile();
    if (opened)
        tmr->start();
    else
        tmr->stop();
    if (!opened) return;
    const int32_t pos = int32_t(uint32_t(uint64_t(ParseLooseInt(posText))));
    History->Add(cmbFile->currentText(), pos);
    PlayFrom(pos);
}

void TfrmMain::AddRecentFile() {
    const QString file = cmbFile->currentText();
    for (int i = 0; i < cmbFile->count(); ++i)
        if (cmbFile->itemText(i).compare(file, Qt::CaseInsensitive) == 0) return;
    const bool wasUpdating = Updating;
    Updating = true;
    cmbFile->insertItem(0, file);
    while (cmbFile->count() > kMaxRecentFiles)
        cmbFile->removeItem(cmbFile->count() - 1);
    cmbFile->setEditText(file); // inserting may have changed the edit text
    Updating = wasUpdating;
    saveRecentRows(cmbFile, DataFolder);
}

void TfrmMain::SaveTreeState() {
    if (DataFolder.isEmpty()) return;
    QTreeWidgetItem* node = tv->currentItem();
    const QString text = node && node->isSelected() ? node->text(0) : QString();
    writeLines(DataFolder + QStringLiteral("Narrabel.tvs"), {text});
}

void TfrmMain::LoadTreeState() {
    if (DataFolder.isEmpty()) return;
    TSuperStringList lines;
    if (lines.LoadFromFile(DataFolder + QStringLiteral("Narrabel.tvs")) && !lines.isEmpty() &&
        !lines.first().isEmpty())
        SelectNodeByText(lines.first());
}

void TfrmMain::FileRenamed(const QString& oldPath, const QString& newPath) {
    if (oldPath == newPath) return;
    // The remembered paths follow first: repointing the store lets events run,
    // and a jump, tick or timer meanwhile must find the file by its new name.
    // Each step runs whatever became of the other; the store's error wins.
    std::exception_ptr error;
    try {
        FollowRename(oldPath, newPath);
    } catch (...) {
        error = std::current_exception();
    }
    try {
        RepointBookmarks(oldPath, newPath);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) std::rethrow_exception(error);
}

void TfrmMain::FollowRename(const QString& oldPath, const QString& newPath) {
    if (oldPath.isEmpty() || oldPath == newPath) return;
    // The device keeps the file it has open and plays on; only the name it
    // reopens by (every jump reopens) changes.
    if (mp->FileName() == oldPath) {
        mp->SetFileName(newPath);
        sbPanels[2]->setText(ExtractFileName(newPath));
    }

    // File box and recent list. Renaming the current row may change the edit
    // text, which is restored or follows.
    const QString shown = cmbFile->currentText();
    const bool wasUpdating = Updating;
    Updating = true;
    bool rowsChanged = false;
    for (int i = 0; i < cmbFile->count(); ++i) {
        if (cmbFile->itemText(i) != oldPath) continue;
        cmbFile->setItemText(i, newPath);
        rowsChanged = true;
    }
    // No two rows alike, letter case aside: the newer (upper) one stays.
    for (int i = cmbFile->count() - 1; rowsChanged && i > 0; --i)
        for (int j = 0; j < i; ++j)
            if (cmbFile->itemText(i).compare(cmbFile->itemText(j), Qt::CaseInsensitive) == 0) {
                cmbFile->removeItem(i);
                break;
            }
    // Untouched otherwise: the user may be typing into it meanwhile.
    if (rowsChanged || shown == oldPath) cmbFile->setEditText(shown == oldPath ? newPath : shown);
    Updating = wasUpdating;
    if (rowsChanged) saveRecentRows(cmbFile, DataFolder);

    if (EditList)
        for (QString& entry : *EditList)
            if (entry == oldPath) entry = newPath;

    // The history is written at once, so that Prev and Next find the file even
    // after a run that does not end through the close handler.
    if (History && History->FollowRename(oldPath, newPath)) {
        UpdateHints();
        History->Save();
    }

    // Resume point: the path follows, the position stays.
    if (DataFolder.isEmpty()) return;
    const QString rsm = DataFolder + QStringLiteral("Narrabel.rsm");
    TSuperStringList lines;
    if (lines.LoadFromFile(rsm) && !lines.isEmpty() && lines.first() == oldPath) {
        lines.first() = newPath;
        writeLines(rsm, lines);
        cmdResume->setToolTip(ExtractFileName(newPath));
    }
}
