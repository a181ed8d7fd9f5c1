#pragma once
// "Rename File(s)": renames one file, or every audio-book file below a root folder
// (through the mass rename window), after its tags; the work is the renamer's.
//
// How the tag editor drives it:
//   Single rename of the selected file:
//     frmRename->SetSingle(path, extension);     // the full path of the file: the
//                                                // one file this rename may touch;
//                                                // pnlOldName, stv on its folder,
//                                                // outcome cleared, stv disabled;
//                                                // its tag read as it is saved
//   Mass rename:
//     frmRename->SetMass();   // pnlOldName = "<multiple files>", stv enabled; the
//                             // extension is left as it is
//     frmRename->SelectFolder(folder) when the editor's folder exists
//   Both: frmRename->exec();  // in mass mode "&Ok" runs the mass rename window
//   Afterwards: a single rename with Outcome() == "ok" replaces the list entry by
//     NewName(); anything else reloads the file list from the folder.
// The slots, delimiter, preview option and extension keep their values for the run.

#include "rename/renamer.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class TFolderTree;
class TfrmPreview;

class TfrmRename : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRename(TRenamer& renamer, QWidget* parent = nullptr);

    // The file to rename, by its full path; its tag is taken from CurrentTag now.
    void SetSingle(const QString& path, const QString& extension);
    void SetMass();
    // "ok" after the last single rename succeeded, else empty.
    QString Outcome() const { return renamer.Outcome; }
    // The proposed new name (no folder), as pnlNewName shows it.
    QString NewName() const;
    // Moves stv to folder; false (nothing changed) when it does not exist.
    bool SelectFolder(const QString& folder);
    // The folder selected in stv, without trailing "/" (except "/").
    QString SelectedFolder() const { return renamer.Folder(); }
    bool MassMode() const { return renamer.Mass; }
    TNamePattern Pattern() const;

    void UpdatePreview();
    void FormActivate();
    void cmb1Change(); // shared by cmb1..cmb4 and cmbDelim
    void cmdOkClick();
    void cmdCancelClick();

    // The mass rename window, shown by "&Ok" in mass mode.
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
    TRenamer& renamer;
};
