#pragma once

#include <QApplication>

class QSocketNotifier;

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

// SIGTERM (a logout, a shutdown), SIGHUP (the terminal went away) and SIGINT
// (Ctrl+C) end the program through the event loop: the handler only writes a
// byte into a pipe, and a notifier on the pipe's other end says Received.
// InstallEndSignals runs first thing in main, so that a signal that comes
// while the program starts waits for it instead of killing it; the handler
// stays, so that a signal that comes again while the program saves its state
// cannot stop it half-way.
void InstallEndSignals();

class TEndSignals : public QObject {
    Q_OBJECT
public:
    explicit TEndSignals(QObject* parent = nullptr);

signals:
    void Received();

private:
    QSocketNotifier* notifier = nullptr;
};
