#pragma once
// The real dialogs behind the seam, placed over the active window.

#include "util/dialogs.h"

class QtDialogs : public Dialogs {
public:
    void Message(const QString& title, const QString& text) override;
    bool Confirm(const QString& title, const QString& text) override;
    std::optional<QString> Input(const QString& title, const QString& prompt,
                                 const QString& initial) override;
    std::optional<QString> OpenFile(const QString& title, const QString& folder,
                                    const QString& filter, int filterIndex) override;
    std::optional<QString> ChooseFolder(const QString& title, const QString& folder) override;
    std::optional<QString> ChooseFont(const QString& initial, int maxPointSize) override;
    void OpenPath(const QString& path) override;
};

// Converts "Desc|*.a;*.b|Desc2|*.*" into Qt's name filters.
QStringList ToQtNameFilters(const QString& filter);
