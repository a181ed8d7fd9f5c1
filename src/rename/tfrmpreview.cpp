#include "rename/tfrmpreview.h"

#include "rename/tfrmrename.h"
#include "util/dialogs.h"
#include "util/errors.h"
#include "util/qorext.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

TfrmPreview::TfrmPreview(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPreview"));
    setWindowTitle(QStringLiteral("Mass Rename - Build, Preview, Apply"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    OpenLog = [](const QString& path) { ShellOpen(path); };

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);

    pnlTop = new QWidget(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    auto* top = new QHBoxLayout(pnlTop);
    top->setContentsMargins(6, 6, 100, 6);
    cmdSel = MakeButton(pnlTop, "cmdSel", QStringLiteral("&Select"));
    cmdDes = MakeButton(pnlTop, "cmdDes", QStringLiteral("&Deselect"));
    cmdSelAll = MakeButton(pnlTop, "cmdSelAll", QStringLiteral("Select &All"));
    cmdDesAll = MakeButton(pnlTop, "cmdDesAll", QStringLiteral("D&eselect All"));
    cmdProceed = MakeButton(pnlTop, "cmdProceed", QStringLiteral("&Proceed"));
    cmdProceed->setToolTip(QStringLiteral("apply the proposed changes"));
    for (QPushButton* b : {cmdSel, cmdDes, cmdSelAll, cmdDesAll, cmdProceed})
        top->addWidget(b);
    top->addStretch(1);
    // Placed by resizeEvent at a fixed distance from the right edge.
    cmdCancel = MakeButton(pnlTop, "cmdCancel", QStringLiteral("&Cancel"));
    cmdCancel->setToolTip(QStringLiteral("discard all proposed changes"));
    pnlTop->setMinimumHeight(cmdSel->sizeHint().height() + 12);
    lay->addWidget(pnlTop);

    lv = new QTreeWidget(this);
    lv->setObjectName(QStringLiteral("lv"));
    lv->setColumnCount(2);
    lv->setHeaderLabels({QStringLiteral("Old Name"), QStringLiteral("New Name")});
    lv->setColumnWidth(0, 300);
    lv->setColumnWidth(1, 450);
    lv->setRootIsDecorated(false);
    lv->setUniformRowHeights(true);
    lv->setTextElideMode(Qt::ElideMiddle); // keep both the root and the file name in view
    lv->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lv->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lay->addWidget(lv, 1);

    pnlSB = new QWidget(this);
    pnlSB->setObjectName(QStringLiteral("pnlSB"));
    auto* sb = new QHBoxLayout(pnlSB);
    sb->setContentsMargins(6, 3, 6, 3);
    prg = new QProgressBar(pnlSB);
    prg->setObjectName(QStringLiteral("prg"));
    prg->setTextVisible(false);
    prg->setFixedWidth(200);
    prg->setRange(0, 100);
    prg->setValue(0);
    lblMsg = new QLabel(pnlSB);
    lblMsg->setObjectName(QStringLiteral("lblMsg"));
    lblMsg->setTextFormat(Qt::PlainText);
    lblMsg->setMinimumWidth(1);
    sb->addWidget(prg);
    sb->addWidget(lblMsg, 1);
    lay->addWidget(pnlSB);

    connect(cmdSel, &QPushButton::clicked, this, [this] { cmdSelClick(); });
    connect(cmdDes, &QPushButton::clicked, this, [this] { cmdDesClick(); });
    connect(cmdSelAll, &QPushButton::clicked, this, [this] { cmdSelAllClick(); });
    connect(cmdDesAll, &QPushButton::clicked, this, [this] { cmdDesAllClick(); });
    connect(cmdProceed, &QPushButton::clicked, this, [this] { cmdProceedClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });
    connect(lv, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { lvSelectItem(current); });

    resize(800, 500);
}

TfrmRename* TfrmPreview::Source() const {
    return RenameWindow;
}

void TfrmPreview::SetStatus(const QString& text) {
    lblMsg->setText(text);
    QCoreApplication::processEvents();
}

void TfrmPreview::ShowReviewButtons(bool on) {
    cmdSelAll->setVisible(on);
    cmdDesAll->setVisible(on);
    cmdProceed->setVisible(on);
}

void TfrmPreview::FormActivate() {
    // Without a window manager the maximised state alone does nothing.
    if (QScreen* s = screen()) setGeometry(s->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    ShowReviewButtons(false);
    // Run once the window is up, so that it paints and answers while searching.
    if (!busy)
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && !busy) BuildList();
        });
}

void TfrmPreview::BuildList() {
    TfrmRename* source = Source();
    if (!source || busy) return;
    prg->setValue(0);
    lblMsg->setText(QStringLiteral("Searching..."));
    lv->clear();
    rows.clear();
    busy = true;

    TMassRenameWalk walk;
    walk.ReadTag = [source](const QString& path) { return source->TagOf(path, true); };
    walk.HasBookmarks = source->HasBookmarks;
    walk.Stop = [this] { return cancelRequested || (Closing && Closing()); };
    walk.Status = [this](const QString& text) { SetStatus(text); };
    walk.Found = [this](const TRenameAction& row) {
        auto* item = new QTreeWidgetItem(lv, {row.OldPath, row.NewPath()});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemNeverHasChildren);
        item->setCheckState(0, row.Checked ? Qt::Checked : Qt::Unchecked);
    };
    rows = PlanMassRename(source->SelectedFolder(), source->Pattern(), source->Extension, walk);

    busy = false;
    cancelRequested = false;
    lblMsg->setText(QStringLiteral("Finished - verify checked items and click Proceed."));
    if (!isVisible()) return;   // closed while searching: nothing more to do
    if (Closing && Closing()) { // a program on its way out starts no renames
        done(QDialog::Rejected);
        return;
    }
    if (source->chkPreview->isChecked())
        ShowReviewButtons(true);
    else
        ApplyList();
}

void TfrmPreview::ApplyList() {
    TfrmRename* source = Source();
    if (!source || busy) return; // never two applies at once
    busy = true;
    // The apply cannot be interrupted; its buttons rest until it is done, and
    // closing the window is refused meanwhile.
    applying = true;
    pnlTop->setEnabled(false);
    prg->setRange(0, int(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        QTreeWidgetItem* item = lv->topLevelItem(int(i));
        rows[i].Checked = item && item->checkState(0) == Qt::Checked;
    }

    TMassRenameApply apply;
    // A failed repointing must not cost the rest of the apply or its log; the
    // file was renamed by then, so the row counts as done and the error is shown
    // once everything is saved.
    QString repointError;
    apply.Rename = [source, &repointError](const QString& oldPath, const QString& newPath) {
        try {
            return source->RenameAndRepoint(oldPath, newPath);
        } catch (const std::exception& e) {
            if (repointError.isEmpty()) repointError = QString::fromUtf8(e.what());
            return true;
        }
    };
    apply.Progress = [this](int index, const TRenameAction& row) {
        prg->setValue(index);
        SetStatus(ExtractFileName(row.OldPath));
    };
    apply.HasBookmarks = source->HasBookmarks;
    apply.Now = Now;
    {
        struct Idle { // however the apply ends
            TfrmPreview* w;
            ~Idle() {
                w->busy = false;
                w->applying = false;
                w->pnlTop->setEnabled(true);
            }
        } idle{this};
        LastLog = ApplyMassRename(rows, DataFolder ? DataFolder() : QString(), apply);
    }
    if (LastLog.Saved && OpenLog) OpenLog(LastLog.Path);
    done(QDialog::Accepted);
    if (!LastLog.Saved)
        throw NarrabelError(
            QStringLiteral("The mass rename log could not be written to %1.").arg(LastLog.Path) +
            (repointError.isEmpty() ? QString() : QStringLiteral("\n") + repointError));
    if (!repointError.isEmpty()) throw NarrabelError(repointError);
}

void TfrmPreview::cmdProceedClick() {
    ApplyList();
}

void TfrmPreview::cmdSelClick() {
    for (QTreeWidgetItem* item : lv->selectedItems())
        item->setCheckState(0, Qt::Checked);
    lv->setFocus();
}

void TfrmPreview::cmdDesClick() {
    for (QTreeWidgetItem* item : lv->selectedItems())
        item->setCheckState(0, Qt::Unchecked);
    lv->setFocus();
}

void TfrmPreview::cmdSelAllClick() {
    lv->selectAll();
    lv->setFocus();
}

void TfrmPreview::cmdDesAllClick() {
    for (int i = 0; i < lv->topLevelItemCount(); ++i)
        lv->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    lv->setFocus();
}

void TfrmPreview::lvSelectItem(QTreeWidgetItem* item) {
    if (!item) return;
    QString hint = QStringLiteral("New Name: ") + ExtractFileName(item->text(1));
    const int i = lv->indexOfTopLevelItem(item);
    if (i >= 0 && size_t(i) < rows.size()) {
        const TRenameAction& row = rows[size_t(i)];
        if (!row.SkipReason.isEmpty())
            hint += QStringLiteral(" (") + row.SkipReason + QStringLiteral(")");
        if (row.TagCutShort) hint += QStringLiteral(" (tag text not fully readable)");
    }
    lv->setToolTip(hint);
}

void TfrmPreview::cmdCancelClick() {
    if (applying) return; // an apply runs to its end
    if (!busy) {
        done(QDialog::Rejected);
        return;
    }
    if (AskYesNo(QStringLiteral("Cancel?"))) cancelRequested = true;
}

void TfrmPreview::reject() {
    cmdCancelClick();
}

// The proposals stay on show until the next search replaces them.
void TfrmPreview::FormClose() {
    busy = false;
    cancelRequested = false;
}

void TfrmPreview::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmPreview::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!busy) FormClose();
}

void TfrmPreview::closeEvent(QCloseEvent* event) {
    if (busy) {
        event->ignore();
        cmdCancelClick(); // a search may be cancelled; an apply is not asked about
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmPreview::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    cmdCancel->resize(cmdCancel->sizeHint().width(), cmdSel->sizeHint().height());
    cmdCancel->move(width() - 95, 6);
}
