// Resume point, recent files and the saved tree selection.

#include "app/tfrmmain.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "util/errors.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

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
    if (DataFolder.isEmpty()) return;
    TSuperStringList rows;
    for (int i = 0; i < cmbFile->count(); ++i)
        rows << cmbFile->itemText(i);
    rows.SaveToFile(DataFolder + QStringLiteral("Narrabel.hst")); // errors are ignored
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
