#pragma once
// What every subsystem shares for the whole run: where the data lives, whether
// the program is closing, the window caption that long work shows, and the
// tag editor's autolist.

#include "util/qorext.h"

#include <QObject>
#include <QString>
#include <memory>

class TAppState : public QObject {
    Q_OBJECT
public:
    explicit TAppState(QObject* parent = nullptr);

    // Sets DataFolder to the documents folder's "Narrabel" folder, making it
    // (and a missing documents folder) when needed, and StorePath beside it.
    // False, both empty, when the folder cannot be made.
    bool ResolveDataFolder();
    // DataFolder + name; empty without a data folder.
    QString DataFile(const QString& name) const;

    QString Caption() const { return caption; }
    void SetCaption(const QString& text);

    QString DataFolder; // ends in "/"; empty when no data folder could be made
    QString StorePath;  // the bookmark store, "Narrabel.nbm" in DataFolder
    // The program is closing: long loops stop, no bookmark description is composed.
    bool Closing = false;
    // The tag editor's autolist ("Narrabel.edt"); gone once the close handler saved it.
    std::unique_ptr<TSuperStringList> EditList = std::make_unique<TSuperStringList>();

signals:
    void CaptionChanged(const QString& caption);

private:
    QString caption = QStringLiteral("Narrabel");
};
