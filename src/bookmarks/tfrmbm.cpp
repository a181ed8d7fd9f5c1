#include "bookmarks/tfrmbm.h"

#include "bookmarks/bookmarkcommands.h"
#include "playback/session.h"
#include "ui/widgets.h"
#include "util/qorext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmBM::TfrmBM(TBookmarkCommands& commands, TListeningSession& listening, QWidget* parent)
    : QDialog(parent), bookmarks(commands), session(listening) {
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

void TfrmBM::Ask(const QString& file, int32_t position, const QString& elapsed) {
    pnlPos->setText(FormatThousands(QString::number(position)) + QStringLiteral(" (") + elapsed +
                    QStringLiteral(")"));
    pnlFile->setText(ExtractFileName(file));
    exec();
}

void TfrmBM::cmdOkClick() {
    // The position at this moment, not the one shown when the dialog opened.
    bookmarks.SaveNewBookmark(session.FileText(), session.mp->Position(), edtDesc->text());
    if (chkResume->isChecked()) session.SaveResumePoint();
    accept();
}
