#pragma once
// "Fill tags from file info": proposes artist, album, track and track title of
// one file from its name and folder, live, by a naming pattern and a folder rule.
// The window never touches the file; the tag editor takes the proposal.
//
// The tag editor asks it with Ask(nameWithoutExtension, folderPath) and takes
// the proposal it returns (nothing when cancelled). The pattern, delimiter and
// folder rule keep the user's last choice for the run.

#include "tags/fillrules.h"

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

class TfrmFill : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFill(QWidget* parent = nullptr);

    // Shows the window for a file (name without extension, folder path as the
    // editor's folder tree gives it); the proposal when closed with "&Ok".
    std::optional<TFillResult> Ask(const QString& fileName, const QString& folder);

    // Sets the inputs (file name without extension, folder path as the editor's
    // folder tree gives it) and empties the outputs.
    void Prepare(const QString& fileName, const QString& folder);
    // The proposal as the output panels show it.
    TFillResult Proposal() const;
    // The pattern and folder rule as the controls show them.
    TFillPattern Pattern() const;

    // Recomputes the outputs from the inputs and the choices.
    void Refresh();
    void FormActivate();
    void cmb1Change(); // shared by cmb1..cmb4 and cmbDelim
    void cmbFolderChange();

    // inputs
    QLabel* pnlFile = nullptr;
    QLabel* pnlFolder = nullptr;
    // choices
    QComboBox* cmb1 = nullptr;
    QComboBox* cmb2 = nullptr;
    QComboBox* cmb3 = nullptr;
    QComboBox* cmb4 = nullptr;
    QComboBox* cmbDelim = nullptr;
    QComboBox* cmbFolder = nullptr;
    // outputs
    QLabel* pnlArtist = nullptr;
    QLabel* pnlAlbum = nullptr;
    QLabel* pnlTrack = nullptr;
    QLabel* pnlTTitle = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
