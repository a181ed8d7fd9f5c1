#pragma once

#include <QApplication>

// Catches errors that no handler caught and shows them in one message box, so
// that a failed command ends but the program goes on.
class NarrabelApplication : public QApplication {
public:
    NarrabelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// True the first time it is asked during the delivery of one key press (which
// passes from the focused control to each of its parents until one takes it),
// false after that. A press delivered meanwhile (a dialog's loop) has its own.
bool FirstSightOfKeyPress();
