#include "rename/tfrmrename.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "app/widgets.h"
#include "bookmarks/bookmark.h"
#include "rename/tfrmpreview.h"
#include "tags/fillrules.h"
#include "tags/id3v2/id3v2.h"
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

namespace {

QString CleanFolder(const QString& folder) {
    QString f = QDir::cleanPath(folder);
    return f.isEmpty() ? QStringLiteral("/") : f;
}

} // namespace

TfrmRename::TfrmRename(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmRename");
    setObjectName(QStringLiteral("frmRename"));
    setWindowTitle(QStringLiteral("Rename File(s)"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    TagSource = [](const QString& path, bool read) {
        if (read) ReadTag(path);
        TNameSource source(CurrentTag());
        // The tag object still holds the frames of that read: what it lost is known.
        if (!path.isEmpty() && CurrentTag().FileName == path && TagStore().FileName() == path)
            source.CutShort = FieldsCutShort(TagStore());
        return source;
    };
    Repoint = [](const QString& oldPath, const QString& newPath) {
        if (frmMain) frmMain->FileRenamed(oldPath, newPath);
    };
    HasBookmarks = [](const QString& path) {
        return frmMain && HasLiveBookmarks(frmMain->StorePath, path);
    };

    auto* lay = new QVBoxLayout(this);

    auto* stvLabel = new QLabel(QStringLiteral("&Mass rename root folder"), this);
    stv = new TFolderTree(this);
    stv->setMinimumHeight(200);
    stvLabel->setBuddy(stv);
    connect(stv, &TFolderTree::folderChanged, this, [this] {
        const QString f = stv->SelectedFolder();
        if (!f.isEmpty()) selectedFolder = f;
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
    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOkClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });

    resize(640, 520);
}

void TfrmRename::SetSingle(const QString& path, const QString& extension) {
    singlePath = path;
    singleSource = TagOf(path, false);
    pnlOldName->setText(ExtractFileName(path));
    Extension = extension;
    outcome.clear();
    stv->setEnabled(false);
    SelectFolder(ExtractFilePath(path)); // shown only; the path alone says what is renamed
}

void TfrmRename::SetMass() {
    pnlOldName->setText(QStringLiteral("<multiple files>"));
    stv->setEnabled(true);
}

QString TfrmRename::NewName() const {
    return pnlNewName->text();
}

bool TfrmRename::SelectFolder(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return false;
    selectedFolder = CleanFolder(QFileInfo(folder).absoluteFilePath());
    stv->SelectFolder(selectedFolder);
    return true;
}

QString TfrmRename::SelectedFolder() const {
    return selectedFolder;
}

bool TfrmRename::MassMode() const {
    return stv->isEnabled();
}

TNamePattern TfrmRename::Pattern() const {
    TNamePattern p;
    QComboBox* slotBoxes[] = {cmb1, cmb2, cmb3, cmb4};
    for (int i = 0; i < 4; ++i)
        p.Slots[i] = slotBoxes[i]->currentIndex();
    p.Delim = cmbDelim->currentText();
    return p;
}

TNameSource TfrmRename::TagOf(const QString& path, bool read) {
    return TagSource(path, read);
}

QString TfrmRename::ComposeName(const QString& path, bool readTags) {
    return ::ComposeName(TagOf(path, readTags).Tag, Pattern(), Extension);
}

QString TfrmRename::GoneMessage(const QString& path) {
    return QStringLiteral("This file no longer exists:\r\r") + path;
}

bool TfrmRename::RenameAndRepoint(const QString& oldPath, const QString& newPath) {
    if (TooLongForBookmarks(oldPath, newPath, HasBookmarks)) {
        LastStatus = TRenameStatus::TooLongForBookmarks;
        return false;
    }
    // One step with the repointing: a run ending between the two is finished at the next start.
    LastStatus = ::RenameAndRepoint(frmMain ? frmMain->StorePath : QString(), oldPath, newPath,
                                    [this](const QString& from, const QString& to) {
                                        if (Repoint) Repoint(from, to);
                                    });
    return LastStatus == TRenameStatus::Ok;
}

void TfrmRename::UpdatePreview() {
    if (MassMode())
        pnlNewName->setText(ComposePatternName(Pattern(), Extension));
    else
        pnlNewName->setText(::ComposeName(singleSource.Tag, Pattern(), Extension));
}

void TfrmRename::FormActivate() {
    if (Extension.isEmpty()) Extension = QStringLiteral("mp3");
    UpdatePreview();
}

void TfrmRename::cmb1Change() {
    UpdatePreview();
}

void TfrmRename::cmdOkClick() {
    if (MassMode()) {
        TfrmPreview* preview = Preview ? Preview : frmPreview;
        if (preview) {
            preview->RenameWindow = this;
            preview->exec();
        }
        accept();
        return;
    }
    // Only the file the editor chose, wherever this window's folder tree stands.
    const QString oldPath = singlePath;
    const QString newPath = ExtractFilePath(oldPath) + pnlNewName->text();
    if (oldPath.isEmpty() || !PathTaken(oldPath)) {
        outcome.clear();
        ShowMessage(GoneMessage(oldPath));
        accept();
        return;
    }
    if (UsesCutShortField(Pattern(), singleSource.CutShort) &&
        !AskYesNo(QStringLiteral("The tag could not be read in full; rename anyway?")))
        return; // back to the window: the pattern may leave that field out
    bool renamed = false;
    try {
        renamed = RenameAndRepoint(oldPath, newPath);
    } catch (...) {
        // Only the repointing throws, so the file has its new name already.
        outcome = QStringLiteral("ok");
        accept();
        throw;
    }
    if (renamed) {
        outcome = QStringLiteral("ok");
    } else {
        outcome.clear();
        ShowMessage(QStringLiteral("Operation failed (files in use, illegal chars...)"));
    }
    accept();
}

void TfrmRename::cmdCancelClick() {
    reject();
}

void TfrmRename::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CenterOnScreen(this);
    FormActivate();
}
