#include "rename/tfrmrename.h"

#include "rename/tfrmpreview.h"
#include "tags/fillrules.h"
#include "ui/widgets.h"
#include "util/qorext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

TfrmRename::TfrmRename(TRenamer& core, QWidget* parent) : QDialog(parent), renamer(core) {
    setObjectName(QStringLiteral("frmRename"));
    setWindowTitle(QStringLiteral("Rename File(s)"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* lay = new QVBoxLayout(this);

    auto* stvLabel = new QLabel(QStringLiteral("&Mass rename root folder"), this);
    stv = new TFolderTree(this);
    stv->setMinimumHeight(200);
    stvLabel->setBuddy(stv);
    connect(stv, &TFolderTree::folderChanged, this, [this] {
        const QString f = stv->SelectedFolder();
        if (!f.isEmpty()) renamer.SelectFolder(f);
    });
    lay->addWidget(stvLabel);
    lay->addWidget(stv, 1);

    auto* pattern = new QHBoxLayout;
    cmb1 = MakeFieldSlot(this, "cmb1", ffArtist);
    cmb2 = MakeFieldSlot(this, "cmb2", ffAlbum);
    cmb3 = MakeFieldSlot(this, "cmb3", ffTrack);
    cmb4 = MakeFieldSlot(this, "cmb4", ffTitle);
    cmbDelim = MakeDelimiterBox(this);
    for (QComboBox* c : {cmb1, cmb2, cmb3, cmb4})
        pattern->addWidget(c);
    auto* delimLabel = new QLabel(QStringLiteral("&Delimiter"), this);
    delimLabel->setBuddy(cmbDelim);
    pattern->addWidget(delimLabel);
    pattern->addWidget(cmbDelim);
    lay->addLayout(pattern);

    chkPreview = new QCheckBox(QStringLiteral("&Preview mass updates"), this);
    chkPreview->setObjectName(QStringLiteral("chkPreview"));
    chkPreview->setChecked(true);
    chkPreview->setToolTip(QStringLiteral("It is highly advised to keep this option checked"));
    lay->addWidget(chkPreview);

    auto* names = new QGridLayout;
    pnlOldName = MakePanel(this, "pnlOldName");
    pnlNewName = MakePanel(this, "pnlNewName");
    names->addWidget(new QLabel(QStringLiteral("Old Name"), this), 0, 0);
    names->addWidget(pnlOldName, 0, 1);
    names->addWidget(new QLabel(QStringLiteral("New Name"), this), 1, 0);
    names->addWidget(pnlNewName, 1, 1);
    names->setColumnStretch(1, 1);
    lay->addLayout(names);

    lay->addLayout(MakeOkCancelRow(this, cmdOk, cmdCancel));

    for (QComboBox* c : {cmb1, cmb2, cmb3, cmb4})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { cmb1Change(); });
    connect(cmbDelim, &QComboBox::editTextChanged, this, [this] { cmb1Change(); });
    connect(chkPreview, &QCheckBox::toggled, this, [this](bool on) { renamer.PreviewFirst = on; });
    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOkClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });

    resize(640, 520);
}

void TfrmRename::SetSingle(const QString& path, const QString& extension) {
    renamer.SetSingle(path, extension);
    pnlOldName->setText(ExtractFileName(path));
    stv->setEnabled(false);
    stv->SelectFolder(renamer.Folder()); // shown only; the path alone says what is renamed
}

void TfrmRename::SetMass() {
    renamer.SetMass();
    pnlOldName->setText(QStringLiteral("<multiple files>"));
    stv->setEnabled(true);
}

QString TfrmRename::NewName() const {
    return pnlNewName->text();
}

bool TfrmRename::SelectFolder(const QString& folder) {
    if (!renamer.SelectFolder(folder)) return false;
    stv->SelectFolder(renamer.Folder());
    return true;
}

TNamePattern TfrmRename::Pattern() const {
    TNamePattern p;
    QComboBox* slotBoxes[] = {cmb1, cmb2, cmb3, cmb4};
    for (int i = 0; i < 4; ++i)
        p.Slots[i] = slotBoxes[i]->currentIndex();
    p.Delim = cmbDelim->currentText();
    return p;
}

void TfrmRename::UpdatePreview() {
    renamer.Pattern = Pattern();
    pnlNewName->setText(renamer.ProposedName());
}

void TfrmRename::FormActivate() {
    if (renamer.Extension.isEmpty()) renamer.Extension = QStringLiteral("mp3");
    UpdatePreview();
}

void TfrmRename::cmb1Change() {
    UpdatePreview();
}

void TfrmRename::cmdOkClick() {
    renamer.Pattern = Pattern();
    if (renamer.Mass) {
        if (Preview) Preview->exec();
        accept();
        return;
    }
    bool done = true;
    try {
        done = renamer.RenameSingle(pnlNewName->text());
    } catch (...) {
        accept();
        throw;
    }
    if (done) accept();
}

void TfrmRename::cmdCancelClick() {
    reject();
}

void TfrmRename::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CenterOnScreen(this);
    FormActivate();
}
