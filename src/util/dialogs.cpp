#include "util/dialogs.h"

namespace {

class SilentDialogs : public Dialogs {
public:
    void Message(const QString&, const QString&) override {}
    bool Confirm(const QString&, const QString&) override { return false; }
    std::optional<QString> Input(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> OpenFile(const QString&, const QString&, const QString&, int) override {
        return std::nullopt;
    }
    std::optional<QString> ChooseFolder(const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> ChooseFont(const QString&, int) override { return std::nullopt; }
};

Dialogs* installed = nullptr;

} // namespace

void Dialogs::OpenPath(const QString&) {}

Dialogs& Dlg() {
    static SilentDialogs silent;
    if (installed) return *installed;
    return silent;
}

void InstallDialogs(Dialogs* dialogs) {
    installed = dialogs;
}
