#include "bookmarks/tfrmbm.h"

#include "app/application.h"
#include "app/tfrmmain.h"
#include "app/widgets.h"
#include "playback/mediaplayer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmBM::TfrmBM(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmBM");
    setObjectName(QStringLiteral("frmBM"));
    setWindowTitle(QStringLiteral("New Bookmark"));
    setModal(true);
    auto* lay = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    pnlFile = MakePanel(this, "pnlFile", 320);
    pnlPos = MakePanel(this, "pnlPos", 320);
    edtDesc = new QLineEdit(this);
    edtDesc->setObjectName(QStringLiteral("edtDesc"));
    edtDesc->setMaxLength(200);
    form->addRow(QStringLiteral("File"), pnlFile);
    form->addRow(QStringLiteral("Position"), pnlPos);
    auto* lblDesc = new QLabel(QStringLiteral("&Alias or Description (optional)"), this);
    lblDesc->setBuddy(edtDesc);
    form->addRow(lblDesc);
    form->addRow(edtDesc);
    lay->addLayout(form);
    chkResume = new QCheckBox(QStringLiteral("Set Resume point to this bookmark"), this);
    chkResume->setObjectName(QStringLiteral("chkResume"));
    chkResume->setChecked(true);
    lay->addWidget(chkResume);
    lay->addLayout(MakeOkCancelRow(this, cmdOk, cmdCancel));
    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOkClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(sizeHint());
}

void TfrmBM::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edtDesc->clear();
    edtDesc->setFocus();
}

void TfrmBM::cmdOkClick() {
    // The position at this moment, not the one shown when the dialog opened.
    frmMain->SaveNewBookmark(frmMain->cmbFile->currentText(), frmMain->mp->Position(),
                             edtDesc->text());
    if (chkResume->isChecked()) frmMain->SaveResumePoint();
    accept();
}
