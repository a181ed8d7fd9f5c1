#pragma once

#include "tags/tageditor.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSplitter;
class TFolderTree;
class TfrmFill;
class TfrmRename;
class QWidget;

// ID3 Tag Editor: browse folders, edit the tags of MP3 files, and run the tag
// commands (copy, paste, fill, number downwards, autolist, rename, delete),
// which the tag editor's core carries out.
class TfrmEdit : public QDialog {
    Q_OBJECT
public:
    enum Command {
        cmdCopy = 0,
        cmdPaste,
        cmdFill,
        cmdCopyDown,
        cmdReload,
        cmdSeparator,
        cmdAutolist,
        cmdRenameFile,
        cmdMassRename,
        cmdDeleteFile,
    };

    explicit TfrmEdit(TTagEditor& editor, QWidget* parent = nullptr);
    // The dialogs the editor opens; created after it, handed over once.
    void SetDialogs(TfrmFill* fill, TfrmRename* rename);
    // While a long operation runs, the editor (which deletes and renames files
    // with their bookmarks) rests.
    void SetBusy(bool busy);

    // Shows the window, or brings it forward, on TargetName (the main window's way in).
    void Open();
    // Opens the window on a file: its folder and the file selected. When the
    // folder cannot be shown, or the file is not in it, no file is selected.
    void OpenOn(const QString& path);
    // Rebuilds the list and selects TargetName, when there is one.
    void FormActivate();
    void stvChange();
    void lstClick();
    void lstDblClick();
    void cmdUpdateClick();
    void cmbCmdChange(int index);
    // Moves the folder tree to a folder (which rebuilds the file list); false,
    // with nothing changed, when the folder is not there.
    bool MoveToFolder(const QString& folder);
    QString Folder() const;
    // Full path of the selected file (in the folder the list was built from);
    // empty without a selection.
    QString SelectedPath() const;
    // Selects the list entry with exactly this name and shows its tag.
    bool SelectName(const QString& name);
    // No entry selected and empty boxes: nothing a command could act on.
    void SelectNothing();

    QString TargetName;

    QWidget* pnlEdit = nullptr;
    QSplitter* spl = nullptr;
    QLineEdit* edtArtist = nullptr;
    QLineEdit* edtAlbum = nullptr;
    QLineEdit* edtTrack = nullptr;
    QLineEdit* edtYear = nullptr;
    QLineEdit* edtGenre = nullptr;
    QLineEdit* edtTitle = nullptr;
    QLineEdit* edtComment = nullptr;
    QPushButton* cmdUpdate = nullptr;
    QComboBox* cmbCmd = nullptr;
    TFolderTree* stv = nullptr;
    QListWidget* lst = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void showTag();
    // The boxes as a record, and back.
    TChgRec fields() const;
    void showFields(const TChgRec& r);
    void copyRecord();
    void copyDownwards();
    void editAutolistEntry();
    void renameFiles(bool mass);
    void deleteFileAndBookmarks();
    void fillFromFileInfo();
    void setCaption(const QString& text);
    TTagEditor& editor;
    TfrmFill* fill = nullptr;
    TfrmRename* rename = nullptr;
    bool busy = false;
    bool enabledBeforeBusy = true;
    QString listFolder; // the folder lst shows, ending in "/"
    bool refilling = false;
    bool placed = false;
};
