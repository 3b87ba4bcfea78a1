#pragma once

#include <functional>

class Form1;
class QProcess;

// A save's long work never holds up the window: it repaints and takes clicks meanwhile (the
// commands that wait for a save ignore them, see SaveState::busy).

// Runs the work on a thread of its own while the window handles its events; returns once it has
// ended, throwing what it threw. The work must not touch the window or its services.
void RunWhileResponsive(const std::function<void()> &work);

// Waits until the process ends, or at most the given time, handling the window's events
// meanwhile.
void WaitResponsive(QProcess &process, int milliseconds);

// Shows, from half a second after it starts until it ends, that the window's save is at work.
class SavingSign {
public:
    explicit SavingSign(Form1 &form);
    ~SavingSign();
    SavingSign(const SavingSign &) = delete;
    SavingSign &operator=(const SavingSign &) = delete;

private:
    Form1 &form_;
    class QTimer *timer_;
};
