// termios2 for any line speed: <asm/termbits.h> clashes with glibc's <termios.h>, so the
// terminal ioctls are made directly.
#include "tests/sim/host.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace {

void ApplyRawLine(int fd, HostLine line) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        throw std::runtime_error("TCGETS2 failed");
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (line.TwoStopBits ? CSTOPB : 0);
    tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(line.BitsPerSecond);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &tio) != 0)
        throw std::runtime_error("TCSETS2 failed");
}

} // namespace

std::string Wire::BigEndian(std::uint32_t value) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
    return bytes;
}

ScriptedHost::ScriptedHost(const std::string& path, HostLine line) : FPath(path), FLine(line) {
    Open();
}

ScriptedHost::~ScriptedHost() {
    if (FFd >= 0)
        close(FFd);
}

void ScriptedHost::Open() {
    FFd = open(FPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0)
        throw std::runtime_error("cannot open " + FPath);
    ApplyRawLine(FFd, FLine);
}

void ScriptedHost::SetLine(HostLine line) {
    FLine = line;
    ApplyRawLine(FFd, line);
}

void ScriptedHost::Reopen(HostLine line) {
    close(FFd);
    FFd = -1;
    FLine = line;
    Open();
}

void ScriptedHost::Send(const std::string& bytes) {
    ioctl(FFd, TCFLSH, TCIFLUSH);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(FFd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return; // the unit hung up; the next read says so
        else
            std::this_thread::sleep_for(1ms);
    }
}

std::string ScriptedHost::Read(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string got;
    char buffer[512];
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{FFd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        // Bytes sent before a hangup are still there to read.
        if (!(p.revents & POLLIN)) {
            FHungUp = true;
            break;
        }
        const ssize_t n = read(FFd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0)
            got.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            FHungUp = true;
            break;
        }
    }
    return got;
}

std::string ScriptedHost::Transact(const std::string& bytes, std::size_t count,
                                   std::chrono::milliseconds timeout) {
    Send(bytes);
    return Read(count, timeout);
}

std::string RequestIdentity(ScriptedHost& host, std::chrono::milliseconds timeout) {
    return host.Transact(Wire::Identity, 30, timeout);
}

std::string RequestErase(ScriptedHost& host, std::uint32_t start, std::uint32_t length,
                         std::chrono::milliseconds timeout) {
    host.Send(Wire::Erase);
    host.Send(Wire::BigEndian(start));
    return host.Transact(Wire::BigEndian(length), 1, timeout);
}

TransferReplies RunTransfer(ScriptedHost& host, const std::string& command, std::uint32_t address,
                            const std::string& image, std::chrono::milliseconds timeout) {
    constexpr std::size_t blockBytes = 128;
    TransferReplies replies;
    host.Send(command);
    host.Send(Wire::BigEndian(address));
    host.Send(Wire::BigEndian(static_cast<std::uint32_t>(image.size())));
    std::this_thread::sleep_for(100ms);
    for (std::size_t done = 0; done < image.size(); done += blockBytes) {
        const std::string reply = host.Transact(image.substr(done, blockBytes), 1, timeout);
        replies.Blocks += reply;
        if (reply != std::string(1, '\0'))
            return replies;
        if (done + blockBytes < image.size())
            host.Send(std::string(1, '\0'));
    }
    replies.Final = host.Transact(std::string(1, '\0'), 1, timeout);
    return replies;
}

SwitchReplies SwitchSpeed(ScriptedHost& host, int connectBps, HostLine program,
                          std::uint8_t newRegister) {
    HostLine switchLine = program;
    switchLine.BitsPerSecond = connectBps;
    host.SetLine(switchLine);
    SwitchReplies replies;
    replies.Register = host.Transact(Wire::SwitchRequest, 1, 500ms);
    host.Send(std::string(1, static_cast<char>(newRegister)));
    host.Reopen(program);
    replies.Echo = host.Transact(Wire::Ack, 5, 500ms);
    return replies;
}

bool ConnectAtDefaults(ScriptedHost& host) {
    if (host.Transact(Wire::UserConnect, Wire::Response.size(), 1000ms) != Wire::Response)
        return false;
    const SwitchReplies replies = SwitchSpeed(host, 9600, HostLine{}, 103);
    return replies.Register == "\x67" && replies.Echo == Wire::Ack;
}

std::string MakeImage(std::size_t size, int seed) {
    std::string image;
    for (std::size_t i = 0; i < size; ++i)
        image += static_cast<char>((i * 7 + static_cast<std::size_t>(seed) * 31 + i / 256) & 0xFF);
    return image;
}
