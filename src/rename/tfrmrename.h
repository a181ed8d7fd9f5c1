#pragma once
// "Rename File(s)": renames one file, or every MP3 file below a root folder (through
// the mass rename window), after its tags, and has the bookmarks repointed.
//
// How the tag editor drives it:
//   Single rename of the selected file:
//     ReadTag(path);                             // CurrentTag holds this file's tag
//     frmRename->SetSingle(path, extension);     // the full path of the file: the
//                                                // one file this rename may touch;
//                                                // pnlOldName, stv on its folder,
//                                                // outcome cleared, stv disabled
//   Mass rename:
//     frmRename->SetMass();   // pnlOldName = "<multiple files>", stv enabled; the
//                             // extension is left as it is
//     frmRename->SelectFolder(folder) when the editor's folder exists
//   Both: frmRename->exec();  // in mass mode "&Ok" runs the mass rename window
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

    // The file to rename, by its full path; its tag is taken from CurrentTag now.
    void SetSingle(const QString& path, const QString& extension);
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
    // Renames within the file's folder, never over an existing file, nor a file with
    // bookmarks to a path the store cannot hold; on success the bookmarks and every
    // path the program remembers follow (Repoint).
    bool RenameAndRepoint(const QString& oldPath, const QString& newPath);
    // The tag of path (read first with read set), as ComposeName uses it.
    TNameSource TagOf(const QString& path, bool read);
    // The text shown when the file to rename is no longer there.
    static QString GoneMessage(const QString& path);

    void UpdatePreview();
    void FormActivate();
    void cmb1Change(); // shared by cmb1..cmb4 and cmbDelim
    void cmdOkClick();
    void cmdCancelClick();

    QString Extension; // for new names, without "."; "mp3" when shown empty
    TRenameStatus LastStatus = TRenameStatus::Ok;

    // Where the tags come from (the shared tag record by default), and what the
    // program hands in: how bookmarks and remembered paths follow a rename,
    // whether a file has bookmarks, and the mass rename window.
    std::function<TNameSource(const QString& path, bool read)> TagSource;
    std::function<void(const QString& oldPath, const QString& newPath)> Repoint;
    std::function<bool(const QString& path)> HasBookmarks;
    TfrmPreview* Preview = nullptr;

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
    QString singlePath;       // the file a single rename acts on
    TNameSource singleSource; // its tag, as it was when the rename was prepared
};
