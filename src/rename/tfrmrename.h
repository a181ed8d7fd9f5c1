#pragma once
// "Rename File(s)": renames one file, or every MP3 file below a root folder (through
// the mass rename window), after its tags, and has the bookmarks repointed.
//
// How the tag editor drives it:
//   Single rename of the selected file:
//     frmRename->SetSingle(fileName, extension); // pnlOldName, the extension for new
//                                                // names, outcome cleared, stv disabled
//   Mass rename:
//     frmRename->SetMass();   // pnlOldName = "<multiple files>", stv enabled; the
//                             // extension is left as it is
//   Both: frmRename->SelectFolder(folder) when the editor's folder exists, then
//     frmRename->exec();      // in mass mode "&Ok" runs the mass rename window
//   Afterwards: a single rename with Outcome() == "ok" replaces the list entry by
//     NewName(); anything else reloads the file list from the folder.
// Which mode is running is told by stv->isEnabled(). The slots, delimiter, preview
// option and extension keep their values for the run.

#include "rename/composename.h"
#include "rename/massrename.h"
#include "tags/mp3.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class TFolderTree;
class TfrmPreview;

class TfrmRename : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRename(QWidget* parent = nullptr);

    void SetSingle(const QString& fileName, const QString& extension);
    void SetMass();
    // "ok" after the last single rename succeeded, else empty.
    QString Outcome() const { return outcome; }
    // The proposed new name (no folder), as pnlNewName shows it.
    QString NewName() const;
    // Moves stv to folder; false (nothing changed) when it does not exist.
    bool SelectFolder(const QString& folder);
    // The folder selected in stv, without trailing "/" (except "/").
    QString SelectedFolder() const;
    bool MassMode() const;
    TNamePattern Pattern() const;

    // The new name (no folder) of path. With readTags the file's tag is read into
    // CurrentTag first; otherwise CurrentTag is taken as it stands.
    QString ComposeName(const QString& path, bool readTags);
    // Renames within the file's folder, never over an existing file; on success the
    // bookmarks of oldPath are repointed to newPath.
    bool RenameAndRepoint(const QString& oldPath, const QString& newPath);
    // The tag record of path (read first with read set), as ComposeName uses it.
    TMP3Rec TagOf(const QString& path, bool read);

    void UpdatePreview();
    void FormActivate();
    void cmb1Change(); // shared by cmb1..cmb4 and cmbDelim
    void cmdOkClick();
    void cmdCancelClick();

    QString Extension; // for new names, without "."; "mp3" when shown empty
    TRenameStatus LastStatus = TRenameStatus::Ok;

    // Seams with working defaults: the shared tag record, the main window's
    // RepointBookmarks, and the program's mass rename window.
    std::function<TMP3Rec(const QString& path, bool read)> TagSource;
    std::function<void(const QString& oldPath, const QString& newPath)> Repoint;
    TfrmPreview* Preview = nullptr; // nullptr: the program's frmPreview

    TFolderTree* stv = nullptr;
    QComboBox* cmb1 = nullptr;
    QComboBox* cmb2 = nullptr;
    QComboBox* cmb3 = nullptr;
    QComboBox* cmb4 = nullptr;
    QComboBox* cmbDelim = nullptr;
    QCheckBox* chkPreview = nullptr;
    QLabel* pnlOldName = nullptr;
    QLabel* pnlNewName = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString selectedFolder;
    QString outcome;
};
