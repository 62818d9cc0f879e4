#include "tests/support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

TestPty::TestPty() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&FMaster, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    FSlaveKeep = slave;
    FSlavePath = name;
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

TestPty::~TestPty() {
    if (FSlaveKeep >= 0)
        close(FSlaveKeep);
    if (FMaster >= 0)
        close(FMaster);
}

void TestPty::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("pty write failed");
        } else {
            pollfd p{FMaster, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::string TestPty::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + timeout;
    std::string got;
    char buffer[4096];
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{FMaster, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t n = read(FMaster, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0)
            got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string TestPty::Drain(std::chrono::milliseconds quiet) {
    std::string got;
    char buffer[4096];
    for (;;) {
        pollfd p{FMaster, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0)
            return got;
        const ssize_t n = read(FMaster, buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.append(buffer, static_cast<std::size_t>(n));
    }
}
