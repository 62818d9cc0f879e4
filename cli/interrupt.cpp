#include "cli/interrupt.h"

#include "platform/exceptions.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gSignal = 0;
int gWakeFd = -1;

extern "C" void OnSignal(int signal) {
    const int savedErrno = errno;
    if (gSignal == 0)
        gSignal = signal;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing more is needed.
    [[maybe_unused]] const ssize_t written = ::write(gWakeFd, &byte, 1);
    errno = savedErrno;
}

void Install(int signal, struct sigaction& old) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Waits that must end at a signal watch the pipe; every other call simply goes on.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, &old);
}

} // namespace

TInterruptWatch::TInterruptWatch() {
    if (::pipe2(FPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        throw Exception(std::string("Cannot create the interrupt pipe: ") + std::strerror(errno));
    gSignal = 0;
    gWakeFd = FPipe[1];
    FNotifier = std::make_unique<QSocketNotifier>(FPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
        Drain();
        if (OnInterrupt)
            OnInterrupt();
    });
    Install(SIGINT, FOldInt);
    Install(SIGTERM, FOldTerm);
}

TInterruptWatch::~TInterruptWatch() {
    sigaction(SIGINT, &FOldInt, nullptr);
    sigaction(SIGTERM, &FOldTerm, nullptr);
    FNotifier.reset();
    gWakeFd = -1;
    ::close(FPipe[0]);
    ::close(FPipe[1]);
}

bool TInterruptWatch::Interrupted() const {
    return gSignal != 0;
}

int TInterruptWatch::Signal() const {
    return gSignal;
}

bool TInterruptWatch::WaitForInput(int fd) const {
    // The pipe, not the flag: a signal between a test of the flag and the wait would be missed.
    for (;;) {
        if (Interrupted())
            return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {FPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents != 0 || Interrupted())
            return false;
        if (fds[0].revents != 0)
            return true;
    }
}

void TInterruptWatch::Drain() {
    char bytes[64];
    while (::read(FPipe[0], bytes, sizeof bytes) > 0) {
    }
}
