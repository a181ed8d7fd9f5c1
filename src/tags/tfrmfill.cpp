#include "tags/tfrmfill.h"

#include "ui/widgets.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TfrmFill::TfrmFill(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmFill"));
    setWindowTitle(QStringLiteral("Fill tags from file info"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* lay = new QVBoxLayout(this);

    auto* inputs = new QGridLayout;
    pnlFile = MakePanel(this, "pnlFile");
    pnlFolder = MakePanel(this, "pnlFolder");
    inputs->addWidget(new QLabel(QStringLiteral("File name"), this), 0, 0);
    inputs->addWidget(pnlFile, 0, 1);
    inputs->addWidget(new QLabel(QStringLiteral("Folder"), this), 1, 0);
    inputs->addWidget(pnlFolder, 1, 1);
    inputs->setColumnStretch(1, 1);
    lay->addLayout(inputs);

    auto* pattern = new QGroupBox(QStringLiteral("File name pattern"), this);
    auto* pl = new QHBoxLayout(pattern);
    cmb1 = MakeFieldSlot(this, "cmb1", ffArtist);
    cmb2 = MakeFieldSlot(this, "cmb2", ffAlbum);
    cmb3 = MakeFieldSlot(this, "cmb3", ffTrack);
    cmb4 = MakeFieldSlot(this, "cmb4", ffTitle);
    cmbDelim = MakeDelimiterBox(this);
    for (QComboBox* c : {cmb1, cmb2, cmb3, cmb4})
        pl->addWidget(c);
    pl->addWidget(new QLabel(QStringLiteral("&Delimiter"), this));
    pl->addWidget(cmbDelim);
    lay->addWidget(pattern);

    auto* folderRow = new QHBoxLayout;
    cmbFolder = new QComboBox(this);
    cmbFolder->setObjectName(QStringLiteral("cmbFolder"));
    cmbFolder->addItems(FolderRuleItems());
    cmbFolder->setCurrentIndex(0);
    auto* folderLabel = new QLabel(QStringLiteral("&Path name"), this);
    folderLabel->setBuddy(cmbFolder);
    folderRow->addWidget(folderLabel);
    folderRow->addWidget(cmbFolder, 1);
    lay->addLayout(folderRow);

    auto* outputs = new QGroupBox(QStringLiteral("Proposed tags"), this);
    auto* ol = new QGridLayout(outputs);
    pnlArtist = MakePanel(this, "pnlArtist");
    pnlAlbum = MakePanel(this, "pnlAlbum");
    pnlTrack = MakePanel(this, "pnlTrack");
    pnlTTitle = MakePanel(this, "pnlTTitle");
    const QStringList captions = FillSlotItems();
    QLabel* panels[] = {pnlArtist, pnlAlbum, pnlTrack, pnlTTitle};
    for (int i = 0; i < 4; ++i) {
        ol->addWidget(new QLabel(captions[i], this), i, 0);
        ol->addWidget(panels[i], i, 1);
    }
    ol->setColumnStretch(1, 1);
    lay->addWidget(outputs);

    lay->addLayout(MakeOkCancelRow(this, cmdOk, cmdCancel));

    // The delimiter box's label focuses the box on its accelerator.
    if (auto* l = pattern->findChild<QLabel*>()) l->setBuddy(cmbDelim);

    for (QComboBox* c : {cmb1, cmb2, cmb3, cmb4})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { cmb1Change(); });
    connect(cmbDelim, &QComboBox::editTextChanged, this, [this] { cmb1Change(); });
    connect(cmbFolder, &QComboBox::currentIndexChanged, this, [this] { cmbFolderChange(); });
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(sizeHint());
}

void TfrmFill::Prepare(const QString& fileName, const QString& folder) {
    pnlFile->setText(fileName);
    pnlFolder->setText(folder);
    for (QLabel* p : {pnlArtist, pnlAlbum, pnlTrack, pnlTTitle})
        p->clear();
}

std::optional<TFillResult> TfrmFill::Ask(const QString& fileName, const QString& folder) {
    Prepare(fileName, folder);
    if (exec() == QDialog::Rejected) return std::nullopt;
    return Proposal();
}

TFillPattern TfrmFill::Pattern() const {
    TFillPattern p;
    QComboBox* slotBoxes[] = {cmb1, cmb2, cmb3, cmb4};
    for (int i = 0; i < 4; ++i)
        p.Slots[i] = slotBoxes[i]->currentIndex();
    p.Delim = cmbDelim->currentText();
    p.FolderRule = cmbFolder->currentIndex();
    return p;
}

TFillResult TfrmFill::Proposal() const {
    return {pnlArtist->text(), pnlAlbum->text(), pnlTrack->text(), pnlTTitle->text()};
}

void TfrmFill::Refresh() {
    const TFillResult r = FillFromFileInfo(pnlFile->text(), pnlFolder->text(), Pattern());
    pnlArtist->setText(r.Artist);
    pnlAlbum->setText(r.Album);
    pnlTrack->setText(r.Track);
    pnlTTitle->setText(r.Title);
}

void TfrmFill::FormActivate() {
    Refresh();
}
void TfrmFill::cmb1Change() {
    Refresh();
}
void TfrmFill::cmbFolderChange() {
    Refresh();
}

void TfrmFill::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CenterOnScreen(this);
    FormActivate();
}
