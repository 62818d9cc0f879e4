#pragma once
// Ctrl-C (SIGINT) and SIGTERM during a run. The handler only records the signal and writes a
// byte to a pipe; a socket notifier on the pipe runs OnInterrupt at the run's next pumping
// point (a port Delay, a boot attempt that timed out, the pump after each transferred block).
// Between pumping points the run asks Interrupted() itself.

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

class TInterruptWatch {
public:
    // Installs the handlers (one watch at a time); needs a QCoreApplication.
    TInterruptWatch();
    // Puts the previous handlers back.
    ~TInterruptWatch();
    TInterruptWatch(const TInterruptWatch&) = delete;
    TInterruptWatch& operator=(const TInterruptWatch&) = delete;

    // Set by the handler itself, so it holds even before the next pumping point.
    bool Interrupted() const;
    // The first signal that came; 0 for none.
    int Signal() const;

    // Waits until fd has input (true) or a signal has come (false), however early it came.
    bool WaitForInput(int fd) const;

    // Runs at the first pumping point after each signal.
    std::function<void()> OnInterrupt;

private:
    void Drain();

    int FPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FOldInt {};
    struct sigaction FOldTerm {};
};
