#include "bookmarks/tfrmimport.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "app/widgets.h"
#include "bookmarks/storejournal.h"
#include "util/qorext.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
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

TfrmImport::TfrmImport(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmImport");
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

void TfrmImport::cmdOkClick() {
    if (frmMain->LongOperationRunning()) return;
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
    // First time: start where audio books usually are, the music folder or home.
    if (SelectedFolder().isEmpty()) {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        SelectFolder(QFileInfo(music).isDir() ? music : QDir::homePath());
        stv->setExpanded(stv->currentIndex(), true);
    }
}

void TfrmImport::cmdCancelClick() {
    if (!scanning) hide();
}

void TfrmImport::cmdCancelImportClick() {
    if (AskYesNo(QStringLiteral("Cancel?"))) StopRequested = true;
}

void TfrmImport::increment(QLabel* label, const QString& prefix) {
    const int64_t n = ParseLooseInt(label->text()) + 1;
    label->setText(prefix + FormatThousands(QString::number(n)));
}

void TfrmImport::ImportFolder() {
    const QString folder = SelectedFolder();
    const QString oldCurrent = QDir::currentPath();
    lblFiles->setText(QStringLiteral("Files: 0"));
    lblNew->setText(QStringLiteral("New: 0"));
    lblSkipped->setText(QStringLiteral("Skipped: 0"));
    struct Restore {
        TfrmImport* w;
        QString current;
        ~Restore() {
            // Whatever ended the scan, the window returns to its chooser and
            // the process to the folder it was in.
            w->pnlPrg->hide();
            w->lblChoose->show();
            w->cmdOk->show();
            w->cmdCancel->show();
            w->stv->setFixedWidth(kChooserWidth);
            w->adjustSize();
            w->scanning = false;
            QDir::setCurrent(current);
        }
    };
    TStoreCommand command(frmMain->StorePath); // one sync for the import, its tree file included
    std::exception_ptr failure;
    {
        TfrmMain::TLongOperation op(frmMain, QStringLiteral("Narrabel - Importing bookmarks..."));
        QScopedValueRollback<bool> batch(frmMain->BatchAdding, true);
        Restore restore{this, oldCurrent};
        scanning = true;
        try {
            ScanFolder(folder);
        } catch (...) {
            failure = std::current_exception(); // reported once the tree is in order
        }
    }
    // The bookmarks stored so far are in the tree: it is sorted and saved
    // however the scan ended, so they are there at the next start too.
    if (StopRequested && !failure) ShowMessage(QStringLiteral("Process stopped."));
    StopRequested = false;
    frmMain->tv->collapseAll();
    frmMain->tv->sortItems(0, Qt::AscendingOrder);
    hide();
    if (!skippedReason.isEmpty() && !failure) ShowMessage(skippedReason); // once per import
    skippedReason.clear();
    try {
        frmMain->SaveTreeFile();
    } catch (...) {
        if (!failure) throw;
    }
    if (failure) std::rethrow_exception(failure);
}

void TfrmImport::ScanFolder(const QString& folder) {
    if (StopRequested || frmMain->Closing) return;
    QDir::setCurrent(folder);
    SelectFolder(folder);
    QCoreApplication::processEvents();
    const QString base = folder.endsWith('/') ? folder : folder + '/';
    QDir dir(folder);
    dir.setSorting(QDir::Unsorted);
    // Linked folders are not followed: a link back up the tree would never end.
    dir.setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : dir.entryList()) {
        ScanFolder(base + name);
        QDir::setCurrent(folder);
    }
    dir.setFilter(QDir::Files);
    for (const QString& name : dir.entryList()) {
        const QString path = base + name;
        if (!IsPlayableFile(path)) continue;
        pnlFile->setText(name);
        TfrmMain::TStartBookmark outcome;
        QString refusal;
        frmMain->FindOrAddStartBookmark(path, &outcome, &refusal);
        if (outcome == TfrmMain::TStartBookmark::Added)
            increment(lblNew, QStringLiteral("New: "));
        else if (outcome == TfrmMain::TStartBookmark::NotStored) {
            increment(lblSkipped, QStringLiteral("Skipped: "));
            skippedReason = refusal;
        }
        increment(lblFiles, QStringLiteral("Files: "));
    }
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
