#include "util/appstate.h"

#include <QDir>
#include <QFileInfo>

TAppState::TAppState(QObject* parent) : QObject(parent) {}

bool TAppState::ResolveDataFolder() {
    QString folder = SpecialFolderPath(4) + QStringLiteral("Narrabel");
    if (!folder.startsWith('/')) folder = QStringLiteral("/") + folder;
    // A fresh account may have no documents folder yet: make it too.
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        DataFolder.clear();
        StorePath.clear();
        return false;
    }
    DataFolder = folder + '/';
    StorePath = DataFolder + QStringLiteral("Narrabel.nbm");
    return true;
}

QString TAppState::DataFile(const QString& name) const {
    return DataFolder.isEmpty() ? QString() : DataFolder + name;
}

void TAppState::SetCaption(const QString& text) {
    if (text == caption) return;
    caption = text;
    emit CaptionChanged(caption);
}
