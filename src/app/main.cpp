#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "ui/qtdialogs.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const bool haveDisplay =
        std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!haveDisplay) {
        std::fprintf(stderr, "narrabel: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
                             "run it on a desktop or under xvfb-run.\n");
        return 2;
    }
    NarrabelApplication app(argc, argv);
    QtDialogs dialogs;
    InstallDialogs(&dialogs);
    int rc = 0;
    {
        TProgram program(app.arguments().mid(1));
        program.Main->show();
        rc = app.exec();
    }
    InstallDialogs(nullptr);
    return rc;
}
