#include "app/application.h"
#include "app/instance.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "ui/qtdialogs.h"
#include "util/appstate.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QSessionManager>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Whether a running program holds the data folder's lock (it may be starting
// up and not listening yet).
bool FolderHeld(const QString& folder) {
    qint64 pid = 0;
    QString host, program;
    QLockFile lock(folder + QLatin1Char('/') + TAppState::LockFileName());
    if (!lock.getLockInfo(&pid, &host, &program) || pid <= 0) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// A program running on this data folder takes the command line over: its
// file plays there. True when one did.
bool HandedToRunningProgram(const QStringList& args) {
    const QString folder = QFileInfo(TAppState::DataFolderPath()).canonicalFilePath();
    if (folder.isEmpty()) return false; // no folder yet: nobody runs on it
    QStringList handed = args.mid(0, 3);
    // The running program has a working folder of its own.
    if (!handed.isEmpty() && !handed[0].isEmpty())
        handed[0] = QFileInfo(handed[0]).absoluteFilePath();
    if (HandOver(folder, handed)) return true;
    // Started a moment ago, it may not listen yet.
    const QDeadlineTimer deadline(6000);
    while (FolderHeld(folder) && !deadline.hasExpired()) {
        QThread::msleep(200);
        if (HandOver(folder, handed)) return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const bool haveDisplay =
        std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!haveDisplay) {
        std::fprintf(stderr, "narrabel: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
                             "run it on a desktop or under xvfb-run.\n");
        return 2;
    }
    // First: a logout while the program starts must wait for its saves.
    InstallEndSignals();
    NarrabelApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (HandedToRunningProgram(args)) return 0;
    QtDialogs dialogs;
    InstallDialogs(&dialogs);
    int rc = 1;
    {
        TProgram program(args);
        // Another program keeps this data folder (and said so): nothing runs here.
        if (!program.Refused()) {
            TEndSignals ends;
            QObject::connect(&ends, &TEndSignals::Received,
                             [&program] { program.EndWithoutQuestions(); });
#ifndef QT_NO_SESSIONMANAGER
            // The desktop session ends: nobody is there to answer a question.
            QObject::connect(&app, &QGuiApplication::commitDataRequest,
                             [&program](QSessionManager&) { program.EndWithoutQuestions(); });
#endif
            program.Main->show();
            rc = app.exec();
        }
    }
    InstallDialogs(nullptr);
    return rc;
}
