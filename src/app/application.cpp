#include "app/application.h"

#include "util/dialogs.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

NarrabelApplication::NarrabelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: Qt would add it to every window title the window
    // system shows ("Options — Narrabel"); each window names itself.
    setApplicationName(QStringLiteral("Narrabel"));
    setApplicationVersion(QStringLiteral(NARRABEL_VERSION));
}

namespace {
// One entry per key press being delivered, innermost last: has it been seen yet?
std::vector<bool> keyPressesSeen;
} // namespace

bool FirstSightOfKeyPress() {
    if (keyPressesSeen.empty()) return true;
    if (keyPressesSeen.back()) return false;
    keyPressesSeen.back() = true;
    return true;
}

bool NarrabelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        if (event->type() == QEvent::KeyPress) {
            // A press reaches notify once; Qt hands it on to the parents itself.
            keyPressesSeen.push_back(false);
            struct Pop {
                ~Pop() { keyPressesSeen.pop_back(); }
            } pop;
            return QApplication::notify(receiver, event);
        }
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowDefaultError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowDefaultError(QStringLiteral("Unknown error"));
    }
    return false;
}

namespace {
int endPipe[2] = {-1, -1};

void OnEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already says it; the result does not matter.
    if (::write(endPipe[1], &byte, 1) < 0) {
    }
    errno = saved;
}
} // namespace

void InstallEndSignals() {
    if (endPipe[0] >= 0 || ::pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action = {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

TEndSignals::TEndSignals(QObject* parent) : QObject(parent) {
    if (endPipe[0] < 0) return;
    notifier = new QSocketNotifier(endPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (::read(endPipe[0], bytes, sizeof bytes) > 0) {
        }
        emit Received();
    });
}
