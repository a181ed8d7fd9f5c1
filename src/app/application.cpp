#include "app/application.h"

#include "util/dialogs.h"

#include <exception>
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
