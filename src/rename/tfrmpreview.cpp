#include "rename/tfrmpreview.h"

#include "util/dialogs.h"
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

TfrmPreview::TfrmPreview(TRenamer& core, QWidget* parent) : QDialog(parent), renamer(core) {
    setObjectName(QStringLiteral("frmPreview"));
    setWindowTitle(QStringLiteral("Mass Rename - Build, Preview, Apply"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

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

bool TfrmPreview::closing() const {
    return renamer.Closing && renamer.Closing();
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
    if (!renamer.Busy)
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && !renamer.Busy) BuildList();
        });
}

void TfrmPreview::BuildList() {
    if (renamer.Busy) return;
    prg->setValue(0);
    lblMsg->setText(QStringLiteral("Searching..."));
    lv->clear();
    renamer.BuildList(
        [this](const TRenameAction& row) {
            auto* item = new QTreeWidgetItem(lv, {row.OldPath, row.NewPath()});
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                           Qt::ItemNeverHasChildren);
            item->setCheckState(0, row.Checked ? Qt::Checked : Qt::Unchecked);
        },
        [this](const QString& text) { SetStatus(text); });
    lblMsg->setText(QStringLiteral("Finished - verify checked items and click Proceed."));
    if (!isVisible()) return; // closed while searching: nothing more to do
    if (closing()) {          // a program on its way out starts no renames
        done(QDialog::Rejected);
        return;
    }
    if (renamer.PreviewFirst)
        ShowReviewButtons(true);
    else
        ApplyList();
}

void TfrmPreview::ApplyList() {
    if (renamer.Busy) return; // never two applies at once
    std::vector<TRenameAction>& rows = renamer.Rows;
    for (size_t i = 0; i < rows.size(); ++i) {
        QTreeWidgetItem* item = lv->topLevelItem(int(i));
        rows[i].Checked = item && item->checkState(0) == Qt::Checked;
    }
    prg->setRange(0, int(rows.size()));
    // The apply cannot be interrupted; its buttons rest until it is done, and
    // closing the window is refused meanwhile.
    pnlTop->setEnabled(false);
    struct Idle { // however the apply ends
        TfrmPreview* w;
        ~Idle() {
            w->pnlTop->setEnabled(true);
            w->done(QDialog::Accepted);
        }
    } idle{this};
    renamer.ApplyList([this](int index, const TRenameAction& row) {
        prg->setValue(index);
        SetStatus(ExtractFileName(row.OldPath));
    });
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
    if (i >= 0 && size_t(i) < renamer.Rows.size()) {
        const TRenameAction& row = renamer.Rows[size_t(i)];
        if (!row.SkipReason.isEmpty())
            hint += QStringLiteral(" (") + row.SkipReason + QStringLiteral(")");
        if (row.TagCutShort) hint += QStringLiteral(" (tag text not fully readable)");
    }
    lv->setToolTip(hint);
}

void TfrmPreview::cmdCancelClick() {
    if (renamer.Applying) return; // an apply runs to its end
    if (!renamer.Busy) {
        done(QDialog::Rejected);
        return;
    }
    if (AskYesNo(QStringLiteral("Cancel?"))) renamer.CancelRequested = true;
}

void TfrmPreview::reject() {
    cmdCancelClick();
}

// The proposals stay on show until the next search replaces them.
void TfrmPreview::FormClose() {
    renamer.CancelRequested = false;
}

void TfrmPreview::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmPreview::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!renamer.Busy) FormClose();
}

void TfrmPreview::closeEvent(QCloseEvent* event) {
    if (renamer.Busy) {
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
