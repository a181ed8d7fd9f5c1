#include "bookmarks/tfrmimport.h"

#include "bookmarks/bookmarkcommands.h"
#include "ui/widgets.h"
#include "util/dialogs.h"
#include "util/qorext.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>

namespace {
const int kChooserWidth = 321;
const int kScanWidth = 550;
} // namespace

TfrmImport::TfrmImport(TBookmarkCommands& commands, QWidget* parent)
    : QDialog(parent), bookmarks(commands) {
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(QStringLiteral("Import"));
    // Cannot be closed from its title bar: only Cancel or the end of a scan close it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);

    auto* lay = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("This process will scan all mp3 files from a starting path and create "
                       "bookmarks pointing to the start of the file. Ensuring tag info is accurate "
                       "beforehand is helpful."),
        this);
    intro->setObjectName(QStringLiteral("lblIntro"));
    intro->setWordWrap(true);
    lay->addWidget(intro);
    auto* formats = new QLabel(
        QStringLiteral("Audio books in M4B, M4A, AAC, Opus, Ogg and FLAC files are taken too."),
        this);
    formats->setObjectName(QStringLiteral("lblFormats"));
    formats->setWordWrap(true);
    // Lines added to the window take the width it has, and never widen it.
    formats->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lay->addWidget(formats);
    lblChoose = new QLabel(
        QStringLiteral("Select a starting folder; all subfolders will be included"), this);
    lblChoose->setObjectName(QStringLiteral("lblChoose"));
    lay->addWidget(lblChoose);

    auto* row = new QHBoxLayout();
    stv = new TFolderTree(this);
    stv->setFixedWidth(kChooserWidth);
    stv->setMinimumHeight(300);
    row->addWidget(stv);
    auto* side = new QVBoxLayout();
    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    side->addWidget(cmdOk);
    side->addWidget(cmdCancel);
    side->addStretch(1);
    row->addLayout(side);
    lay->addLayout(row);

    pnlPrg = new QWidget(this);
    pnlPrg->setObjectName(QStringLiteral("pnlPrg"));
    auto* prg = new QVBoxLayout(pnlPrg);
    prg->setContentsMargins(0, 0, 0, 0);
    auto* fileRow = new QHBoxLayout();
    fileRow->addWidget(new QLabel(QStringLiteral("Current file"), pnlPrg));
    pnlFile = MakePanel(pnlPrg, "pnlFile", 300);
    fileRow->addWidget(pnlFile, 1);
    prg->addLayout(fileRow);
    auto* counters = new QHBoxLayout();
    lblFiles = new QLabel(QStringLiteral("Files: 0"), pnlPrg);
    lblFiles->setObjectName(QStringLiteral("lblFiles"));
    lblNew = new QLabel(QStringLiteral("New: 0"), pnlPrg);
    lblNew->setObjectName(QStringLiteral("lblNew"));
    lblSkipped = new QLabel(QStringLiteral("Skipped: 0"), pnlPrg);
    lblSkipped->setObjectName(QStringLiteral("lblSkipped"));
    cmdCancelImport = new QPushButton(QStringLiteral("&Cancel"), pnlPrg);
    cmdCancelImport->setObjectName(QStringLiteral("cmdCancelImport"));
    counters->addWidget(lblFiles);
    counters->addSpacing(24);
    counters->addWidget(lblNew);
    counters->addSpacing(24);
    counters->addWidget(lblSkipped);
    counters->addStretch(1);
    counters->addWidget(cmdCancelImport);
    prg->addLayout(counters);
    pnlPrg->hide();
    lay->addWidget(pnlPrg);
    lblSummary = new QLabel(this);
    lblSummary->setObjectName(QStringLiteral("lblSummary"));
    lblSummary->setTextFormat(Qt::PlainText);
    lblSummary->setWordWrap(true);
    lblSummary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblSummary->hide();
    lay->addWidget(lblSummary);

    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOkClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });
    connect(cmdCancelImport, &QPushButton::clicked, this, [this] { cmdCancelImportClick(); });
}

void TfrmImport::SelectFolder(const QString& path) {
    stv->SelectFolder(path);
}

QString TfrmImport::SelectedFolder() const {
    return stv->SelectedFolder();
}

void TfrmImport::SetBusy(bool isBusy) {
    if (isBusy == busy) return;
    busy = isBusy;
    if (busy) okEnabled = !cmdOk->testAttribute(Qt::WA_ForceDisabled);
    cmdOk->setEnabled(!busy && okEnabled);
}

void TfrmImport::cmdOkClick() {
    if (bookmarks.LongOperationRunning()) return;
    const QString folder = SelectedFolder();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        ShowMessage(QStringLiteral("Please select a starting folder."));
        return;
    }
    lblChoose->hide();
    cmdOk->hide();
    cmdCancel->hide();
    pnlPrg->show();
    stv->setFixedWidth(kScanWidth);
    adjustSize();
    ImportFolder();
}

void TfrmImport::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // First time: start where the last import did, else where audio books
    // usually are, the music folder or home.
    if (SelectedFolder().isEmpty()) {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const QString last = bookmarks.LastImportFolder();
        SelectFolder(!last.isEmpty() ? last : QFileInfo(music).isDir() ? music : QDir::homePath());
        stv->setExpanded(stv->currentIndex(), true);
    }
}

void TfrmImport::cmdCancelClick() {
    if (!scanning) hide();
}

void TfrmImport::cmdCancelImportClick() {
    if (AskYesNo(QStringLiteral("Cancel?"))) StopRequested = true;
}

void TfrmImport::showChooser() {
    pnlPrg->hide();
    lblChoose->show();
    cmdOk->show();
    cmdCancel->show();
    stv->setFixedWidth(kChooserWidth);
    adjustSize();
    scanning = false;
}

void TfrmImport::ImportFolder() {
    const QString folder = SelectedFolder();
    lblFiles->setText(QStringLiteral("Files: 0"));
    lblNew->setText(QStringLiteral("New: 0"));
    lblSkipped->setText(QStringLiteral("Skipped: 0"));
    TBookmarkCommands::TImportHooks hooks;
    hooks.Stop = [this] { return StopRequested; };
    // The scan is shown as it goes: its file and the counts, and its folder in
    // the chooser, which is costly to move, a few times a second.
    QElapsedTimer sinceMoved;
    hooks.Progress = [&](const QString& in, const QString& file,
                         const TBookmarkCommands::TImportCounts& counts) {
        if (!sinceMoved.isValid() || sinceMoved.elapsed() >= 100) {
            SelectFolder(in);
            sinceMoved.start();
        }
        pnlFile->setText(file);
        lblFiles->setText(QStringLiteral("Files: ") +
                          FormatThousands(QString::number(counts.Files)));
        lblNew->setText(QStringLiteral("New: ") + FormatThousands(QString::number(counts.New)));
        lblSkipped->setText(QStringLiteral("Skipped: ") +
                            FormatThousands(QString::number(counts.Skipped)));
    };
    scanning = true;
    QString skippedReason;
    TBookmarkCommands::TImportCounts done;
    lblSummary->hide();
    try {
        done = bookmarks.Import(folder, hooks, &skippedReason);
    } catch (...) {
        // Whatever ended the scan, the window returns to its chooser and closes.
        StopRequested = false;
        showChooser();
        hide();
        throw;
    }
    lblSummary->setText(TBookmarkCommands::ImportSummary(done));
    lblSummary->show();
    // The window opens on the folder imported last.
    SelectFolder(folder);
    showChooser();
    const bool stopped = StopRequested;
    if (stopped) ShowMessage(QStringLiteral("Process stopped."));
    StopRequested = false;
    hide();
    if (!skippedReason.isEmpty()) ShowMessage(skippedReason); // once per import
    // The window closes itself at the end: what the import did is said once
    // more where the listener sees it (the window keeps it as its last line).
    if (!stopped) ShowMessage(lblSummary->text());
}

void TfrmImport::closeEvent(QCloseEvent* e) {
    // No title-bar close: the window closes through Cancel or at the end of a scan.
    e->ignore();
}

void TfrmImport::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        if (scanning)
            cmdCancelImportClick();
        else
            cmdCancelClick();
        return;
    }
    QDialog::keyPressEvent(e);
}
