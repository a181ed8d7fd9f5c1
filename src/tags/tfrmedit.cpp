#include "tags/tfrmedit.h"

#include "rename/tfrmrename.h"
#include "tags/tfrmfill.h"
#include "ui/widgets.h"
#include "util/dialogs.h"
#include "util/qorext.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

namespace {
const char* const kCaption = "ID3 Tag Editor";
} // namespace

TfrmEdit::TfrmEdit(TTagEditor& core, QWidget* parent) : QDialog(parent), editor(core) {
    setObjectName(QStringLiteral("frmEdit"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setModal(false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    resize(650, 425);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(6, 6, 6, 6);
    spl = new QSplitter(Qt::Vertical, this);
    spl->setObjectName(QStringLiteral("spl"));
    spl->setChildrenCollapsible(false);
    root->addWidget(spl);

    pnlEdit = new QWidget(spl);
    pnlEdit->setObjectName(QStringLiteral("pnlEdit"));
    auto* top = new QHBoxLayout(pnlEdit);
    top->setContentsMargins(0, 0, 0, 0);
    // Rows follow the tab order: artist, album, track/year/genre, title, notes, Save.
    auto* grid = new QGridLayout();
    grid->setVerticalSpacing(4);
    auto label = [&](const char* text, QLineEdit* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), pnlEdit);
        l->setBuddy(buddy);
        return l;
    };
    auto edit = [&](const char* name) {
        auto* e = new QLineEdit(pnlEdit);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    edtArtist = edit("edtArtist");
    edtAlbum = edit("edtAlbum");
    edtTrack = edit("edtTrack");
    edtYear = edit("edtYear");
    edtGenre = edit("edtGenre");
    edtTitle = edit("edtTitle");
    edtComment = edit("edtComment");
    grid->addWidget(label("&Artist/Author", edtArtist), 0, 0);
    grid->addWidget(edtArtist, 0, 1);
    grid->addWidget(label("A&lbum/Title", edtAlbum), 1, 0);
    grid->addWidget(edtAlbum, 1, 1);
    auto* numbers = new QHBoxLayout();
    numbers->setSpacing(6);
    // Room for "12/34" and a year; the genre takes the rest.
    const int digits = edtTrack->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12;
    edtTrack->setFixedWidth(digits);
    edtYear->setFixedWidth(digits);
    numbers->addWidget(edtTrack);
    numbers->addSpacing(4);
    numbers->addWidget(label("&Year", edtYear));
    numbers->addWidget(edtYear);
    numbers->addSpacing(4);
    numbers->addWidget(label("&Genre", edtGenre));
    numbers->addWidget(edtGenre, 1);
    grid->addWidget(label("Trac&k/Seq", edtTrack), 2, 0);
    grid->addLayout(numbers, 2, 1);
    grid->addWidget(label("&Track Title", edtTitle), 3, 0);
    grid->addWidget(edtTitle, 3, 1);
    grid->addWidget(label("&Notes", edtComment), 4, 0);
    grid->addWidget(edtComment, 4, 1);
    cmdUpdate = new QPushButton(QStringLiteral("&Save"), pnlEdit);
    cmdUpdate->setObjectName(QStringLiteral("cmdUpdate"));
    cmbCmd = new QComboBox(pnlEdit);
    cmbCmd->setObjectName(QStringLiteral("cmbCmd"));
    cmbCmd->setToolTip(QStringLiteral("editing options"));
    cmbCmd->setPlaceholderText(QStringLiteral("editing options"));
    cmbCmd->setMaxVisibleItems(12);
    cmbCmd->addItems({QStringLiteral("Copy record"), QStringLiteral("Paste record"),
                      QStringLiteral("Fill from file info..."),
                      QStringLiteral("Copy downwards, auto-filling Track/Seq"),
                      QStringLiteral("Reload record (cancel changes)"), QString(63, QChar('-')),
                      QStringLiteral("Edit an autolist entry"), QStringLiteral("Rename file"),
                      QStringLiteral("Mass rename"),
                      QStringLiteral("Delete file and all related bookmarks")});
    // The hyphen row is long; the closed box need not be as wide as its list.
    cmbCmd->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbCmd->setMinimumContentsLength(20);
    cmbCmd->view()->setMinimumWidth(cmbCmd->view()->sizeHintForColumn(0) + 24);
    cmbCmd->setCurrentIndex(-1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(cmdUpdate);
    buttons->addWidget(cmbCmd, 1);
    grid->addLayout(buttons, 5, 1);
    grid->setColumnStretch(1, 1);
    top->addLayout(grid, 5);

    stv = new TFolderTree(pnlEdit);
    stv->setMinimumWidth(180);
    top->addWidget(stv, 3);

    lst = new QListWidget(spl);
    lst->setObjectName(QStringLiteral("lst"));
    lst->setMinimumHeight(55);
    spl->addWidget(pnlEdit);
    spl->addWidget(lst);
    spl->setStretchFactor(0, 0);
    spl->setStretchFactor(1, 1);

    setTabOrder(edtArtist, edtAlbum);
    setTabOrder(edtAlbum, edtTrack);
    setTabOrder(edtTrack, edtYear);
    setTabOrder(edtYear, edtGenre);
    setTabOrder(edtGenre, edtTitle);
    setTabOrder(edtTitle, edtComment);
    setTabOrder(edtComment, cmdUpdate);
    setTabOrder(cmdUpdate, cmbCmd);
    setTabOrder(cmbCmd, stv);
    setTabOrder(stv, lst);

    connect(cmdUpdate, &QPushButton::clicked, this, [this] { cmdUpdateClick(); });
    connect(cmbCmd, QOverload<int>::of(&QComboBox::activated), this,
            [this](int i) { cmbCmdChange(i); });
    connect(stv, &TFolderTree::folderChanged, this, [this] { stvChange(); });
    connect(lst, &QListWidget::itemClicked, this, [this] { lstClick(); });
    connect(lst, &QListWidget::currentRowChanged, this, [this] {
        if (!refilling) lstClick();
    });
    connect(lst, &QListWidget::itemDoubleClicked, this, [this] { lstDblClick(); });
}

void TfrmEdit::SetDialogs(TfrmFill* fillWindow, TfrmRename* renameWindow) {
    fill = fillWindow;
    rename = renameWindow;
}

void TfrmEdit::SetBusy(bool isBusy) {
    if (isBusy == busy) return;
    busy = isBusy;
    if (busy) {
        enabledBeforeBusy = !testAttribute(Qt::WA_ForceDisabled);
        setEnabled(false);
    } else {
        setEnabled(enabledBeforeBusy);
    }
}

void TfrmEdit::setCaption(const QString& text) {
    setWindowTitle(text);
    repaint();
}

void TfrmEdit::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!placed) {
        placed = true;
        CenterOnScreen(this);
    }
    FormActivate();
}

// The target is applied when the main window opens the editor, not on every
// activation: coming back from a message box or another window must not throw
// away what was typed into the boxes or the file the user moved to.
void TfrmEdit::Open() {
    if (isVisible())
        FormActivate();
    else
        show();
    raise();
    activateWindow();
}

void TfrmEdit::OpenOn(const QString& path) {
    if (!editor.CopyingDown) {
        if (MoveToFolder(ExtractFilePath(path))) {
            TargetName = ExtractFileName(path);
        } else {
            // Whatever the list shows now is not the file asked for.
            TargetName.clear();
            SelectNothing();
        }
    }
    Open();
}

void TfrmEdit::FormActivate() {
    if (TargetName.isEmpty() || editor.CopyingDown) return;
    stvChange();
    if (!SelectName(TargetName)) SelectNothing();
}

QString TfrmEdit::Folder() const {
    return stv->SelectedFolder();
}

bool TfrmEdit::MoveToFolder(const QString& folder) {
    if (editor.CopyingDown || folder.isEmpty() || !QFileInfo(folder).isDir()) return false;
    return stv->SelectFolder(folder);
}

QString TfrmEdit::SelectedPath() const {
    QListWidgetItem* it = lst->currentItem();
    if (!it || !it->isSelected() || listFolder.isEmpty()) return {};
    return listFolder + it->text();
}

void TfrmEdit::SelectNothing() {
    if (editor.CopyingDown) return;
    refilling = true;
    lst->setCurrentRow(-1);
    lst->clearSelection();
    refilling = false;
    for (QLineEdit* e : {edtArtist, edtAlbum, edtTrack, edtYear, edtGenre, edtTitle, edtComment})
        e->clear();
}

bool TfrmEdit::SelectName(const QString& name) {
    for (int i = 0; i < lst->count(); ++i) {
        if (lst->item(i)->text() == name) {
            refilling = true;
            lst->setCurrentRow(i);
            refilling = false;
            lst->item(i)->setSelected(true);
            showTag();
            return true;
        }
    }
    return false;
}

void TfrmEdit::stvChange() {
    if (editor.CopyingDown) return;
    refilling = true;
    lst->clear();
    TSuperStringList files;
    listFolder = Folder();
    if (!listFolder.isEmpty() && !listFolder.endsWith('/')) listFolder += '/';
    if (!listFolder.isEmpty()) { // no folder chosen yet: no files
        files.AddFiles(listFolder, QStringLiteral("*.mp3"), faArchive, false);
        for (const QString& ext : BookExtensions())
            files.AddFiles(listFolder, QStringLiteral("*.") + ext, faArchive, false);
    }
    // Sorted as a file manager would: letter case aside, then by the user's locale.
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        const int c = QString::localeAwareCompare(a.toLower(), b.toLower());
        return c != 0 ? c < 0 : a < b;
    });
    lst->addItems(files);
    if (lst->count() > 0) lst->setCurrentRow(0);
    refilling = false;
    if (lst->count() > 0) showTag();
}

void TfrmEdit::lstClick() {
    if (!SelectedPath().isEmpty()) showTag();
}

void TfrmEdit::showTag() {
    const QString path = SelectedPath();
    if (!path.isEmpty()) showFields(editor.Read(path));
}

TChgRec TfrmEdit::fields() const {
    return {edtArtist->text(), edtAlbum->text(), edtTrack->text(),   edtTitle->text(),
            edtYear->text(),   edtGenre->text(), edtComment->text(), true};
}

void TfrmEdit::showFields(const TChgRec& r) {
    edtArtist->setText(r.Artist);
    edtAlbum->setText(r.Album);
    edtTrack->setText(r.Track);
    edtTitle->setText(r.Title);
    edtYear->setText(r.Year);
    edtGenre->setText(r.Genre);
    edtComment->setText(r.Comment);
}

void TfrmEdit::lstDblClick() {
    const QString path = SelectedPath();
    if (!path.isEmpty()) ShellOpen(path);
}

void TfrmEdit::cmdUpdateClick() {
    const QString path = SelectedPath();
    if (path.isEmpty()) return;
    setCaption(QStringLiteral("ID3 Tag Editor - Saving..."));
    struct Restore {
        TfrmEdit* w;
        ~Restore() { w->setCaption(QString::fromLatin1(kCaption)); }
    } restore{this};
    editor.Save(path, fields());
}

void TfrmEdit::copyRecord() {
    editor.CopyBuffer = fields();
}

void TfrmEdit::cmbCmdChange(int index) {
    if (index == cmdSeparator) {
        cmbCmd->setCurrentIndex(-1);
        return;
    }
    switch (index) {
    case cmdCopy:
        copyRecord();
        break;
    case cmdPaste:
        if (editor.CopyBuffer.HasData)
            showFields(editor.CopyBuffer);
        else
            ShowMessage(QStringLiteral("Nothing has been copied yet."));
        break;
    case cmdFill:
        fillFromFileInfo();
        break;
    case cmdCopyDown:
        copyDownwards();
        break;
    case cmdReload:
        showTag();
        break;
    case cmdAutolist:
        editAutolistEntry();
        break;
    case cmdRenameFile:
        renameFiles(false);
        break;
    case cmdMassRename:
        renameFiles(true);
        break;
    case cmdDeleteFile:
        deleteFileAndBookmarks();
        break;
    default:
        break;
    }
    cmbCmd->setCurrentIndex(-1);
    edtArtist->setFocus();
}

void TfrmEdit::fillFromFileInfo() {
    const QString path = SelectedPath();
    if (path.isEmpty()) return;
    const QString name = lst->currentItem()->text();
    if (!fill) return;
    // The name without its extension (".mp3", ".m4b", ".flac", ...).
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const std::optional<TFillResult> proposal =
        fill->Ask(dot > 0 ? name.left(dot) : name, Folder());
    if (!proposal) return;
    showFields(TTagEditor::WithProposal(fields(), *proposal));
    cmdUpdateClick();
}

void TfrmEdit::copyDownwards() {
    const int start = lst->currentRow();
    if (SelectedPath().isEmpty() || start >= lst->count() - 1) return;
    copyRecord();
    QStringList paths;
    for (int i = start + 1; i < lst->count(); ++i)
        paths << listFolder + lst->item(i)->text();
    setCaption(QStringLiteral("ID3 Tag Editor - Updating tags..."));
    // The main window stays usable; the list must stay as it is meanwhile.
    stv->setEnabled(false);
    lst->setEnabled(false);
    pnlEdit->setEnabled(false);
    editor.CopyDownwards(editor.CopyBuffer, paths, [this, start](int i) {
        refilling = true;
        lst->setCurrentRow(start + 1 + i);
        refilling = false;
    });
    stv->setEnabled(true);
    lst->setEnabled(true);
    pnlEdit->setEnabled(true);
    if (start + 1 < lst->count()) {
        lst->setCurrentRow(start + 1);
        showTag();
    }
    setCaption(QString::fromLatin1(kCaption));
}

void TfrmEdit::editAutolistEntry() {
    const QString candidate = editor.NextAutolistEntry();
    if (candidate.isEmpty()) return;
    MoveToFolder(ExtractFilePath(candidate));
    SelectName(ExtractFileName(candidate));
}

void TfrmEdit::renameFiles(bool mass) {
    if (!rename) return;
    if (!mass) {
        const QString path = SelectedPath();
        if (path.isEmpty()) return;
        // Gone meanwhile (its folder renamed, say): nothing else may take its place.
        if (!QFileInfo(path).isFile()) {
            ShowMessage(TRenamer::GoneMessage(path));
            stvChange();
            return;
        }
        rename->SetSingle(path, FieldFromRight(ExtractFileName(path), 1, '.'));
    } else {
        rename->SetMass();
        if (QFileInfo(Folder()).isDir()) rename->SelectFolder(Folder());
    }
    rename->exec();
    if (!mass && rename->Outcome() == QLatin1String("ok")) {
        if (QListWidgetItem* it = lst->currentItem()) it->setText(rename->NewName());
    } else {
        stvChange();
    }
}

void TfrmEdit::deleteFileAndBookmarks() {
    const QString path = SelectedPath();
    if (path.isEmpty() || !editor.DeleteFileAndBookmarks(path)) return;
    delete lst->takeItem(lst->currentRow());
    if (lst->count() > 0) {
        lst->setCurrentRow(0);
        showTag();
    }
}
