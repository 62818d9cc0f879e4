#include "cli/interrupt.h"

#include "platform/exceptions.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    // No SA_RESTART: a blocking read of the terminal's answer returns with EINTR.
    action.sa_flags = 0;
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

void TInterruptWatch::Drain() {
    char bytes[64];
    while (::read(FPipe[0], bytes, sizeof bytes) > 0) {
    }
}
