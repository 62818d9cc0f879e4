// The serial port on Linux: termios2 (any line speed), CMSPAR (mark and space parity), and
// non-blocking I/O that waits in ppoll() against a deadline, so a read returns the moment its
// count is in and nothing ever sleeps in steps.
//
// <asm/termbits.h> gives termios2 but clashes with glibc's <termios.h>, so the termios calls
// are made through their ioctls (TCGETS2, TCSETS2, TCFLSH, TCSBRK).

#include "platform/comport.h"
#include "platform/exceptions.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

namespace {

// Every failing system call of the port ends here: the step's text plus errno.
[[noreturn]] void RaisePortError(const char* text, int error = errno) {
    throw EComPort(text, error);
}

// The one time limit behind every blocking loop of the port.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(std::int64_t ms) : FEnd(Clock::now() + std::chrono::milliseconds(ms)) {}

    bool Expired() const { return Clock::now() >= FEnd; }

    timespec Remaining() const {
        const auto left = std::max(FEnd - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }

private:
    Clock::time_point FEnd;
};

// Waits until fd is ready for events or the deadline passes; returns the ready events, 0 on
// time-out or signal (the caller's loop looks again).
short WaitForEvents(int fd, short events, const Deadline& deadline) {
    pollfd p{fd, events, 0};
    const timespec left = deadline.Remaining();
    const int ready = ::ppoll(&p, 1, &left, nullptr);
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
        RaisePortError(ComPortError::AsyncStatus);
    }
    return ready == 0 ? 0 : p.revents;
}

// Capped so that the deadline arithmetic of the clock cannot overflow (about 24 days).
std::int64_t TimeLimitMs(std::int32_t constant, std::int32_t multiplier, std::int32_t count) {
    const std::int64_t ms =
        static_cast<std::int64_t>(constant) + static_cast<std::int64_t>(multiplier) * count;
    return std::clamp<std::int64_t>(ms, 0, INT32_MAX);
}

std::string DevicePath(const std::string& name) {
    // Names from the port list are paths; a bare name such as "ttyUSB0" is taken from /dev.
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

// The classic speed constants, for drivers that predate arbitrary speeds; any other rate goes
// through BOTHER.
tcflag_t StandardSpeedFlag(std::int32_t bitsPerSecond) {
    struct SpeedFlag {
        std::int32_t BitsPerSecond;
        tcflag_t Flag;
    };
    static constexpr SpeedFlag KSpeeds[] = {
        {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const SpeedFlag& s : KSpeeds)
        if (s.BitsPerSecond == bitsPerSecond)
            return s.Flag;
    return BOTHER;
}

bool SetSpeed(termios2& tio, const TComPort& port) {
    const std::int32_t bps = port.BaudRate() == brCustom ? port.CustomBaudRate()
                                                         : BaudRateBitsPerSecond(port.BaudRate());
    if (bps <= 0)
        return false;
    // Input speed bits left at zero mean "same as output".
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= StandardSpeedFlag(bps);
    tio.c_ispeed = static_cast<speed_t>(bps);
    tio.c_ospeed = static_cast<speed_t>(bps);
    return true;
}

bool SetFrame(termios2& tio, const TComPort& port) {
    static constexpr tcflag_t KDataBitsFlags[] = {CS5, CS6, CS7, CS8};
    if (port.DataBits() > dbEight)
        return false;
    tio.c_cflag |= KDataBitsFlags[port.DataBits()];

    switch (port.StopBits()) {
    case sbOneStopBit:
        break;
    case sbTwoStopBits:
        tio.c_cflag |= CSTOPB;
        break;
    default: // 1.5 stop bits: termios cannot do them, and must not quietly do something else
        return false;
    }

    switch (port.Parity().Bits) {
    case prNone:
        break;
    case prOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case prEven:
        tio.c_cflag |= PARENB;
        break;
    case prMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case prSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return false;
    }
    if (port.Parity().Check)
        tio.c_iflag |= INPCK;
    return true;
}

bool SetFlow(termios2& tio, const TComFlowControl& flow) {
    // Handshakes that termios has no counterpart for are refused rather than ignored.
    if (flow.OutDSRFlow || flow.DSRSensitivity)
        return false;
    if (flow.ControlDTR != dtrDisable && flow.ControlDTR != dtrEnable)
        return false;
    if (flow.ControlRTS != rtsDisable && flow.ControlRTS != rtsEnable &&
        flow.ControlRTS != rtsHandshake)
        return false;
    if (flow.OutCTSFlow || flow.ControlRTS == rtsHandshake)
        tio.c_cflag |= CRTSCTS;
    if (flow.XonXoffOut)
        tio.c_iflag |= IXON;
    if (flow.XonXoffIn)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(flow.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(flow.XoffChar);
    return true;
}

// Raw binary transfer: zero bytes and control characters are delivered like any other byte,
// reads never block in the driver (VMIN = VTIME = 0), modem status lines are ignored.
void SetRaw(termios2& tio) {
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // HUPCL drops DTR and RTS when the port is released.
    tio.c_cflag |= CLOCAL | CREAD | HUPCL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

// Raises or drops one modem line. A pseudo-terminal has no modem lines and rejects the
// request; that is not an error.
void SetModemLine(int fd, int line, bool on) {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return;
    if (errno == ENOTTY || errno == EINVAL)
        return;
    RaisePortError(ComPortError::SetCommState);
}

} // namespace

void TComPort::RequireOpen(const char* errorText) const {
    if (!Connected())
        RaisePortError(errorText, EBADF);
}

void TComPort::Open() {
    if (Connected())
        return;
    const std::string path = DevicePath(FPort);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        RaisePortError(ComPortError::Open);
    // Root ignores TIOCEXCL, so the advisory lock is what keeps a second instance of ours out
    // even then. It comes first: a refused second opener must not touch the exclusive mode of
    // the first.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        RaisePortError(ComPortError::Open, error);
    }
    FHandle = fd;
    try {
        EnableLowLatency();
        ApplyBuffer();
        ApplyLineSettings();
    } catch (...) {
        Close();
        throw;
    }
}

void TComPort::Close() {
    if (!Connected())
        return;
    // A pseudo-terminal keeps TIOCEXCL across a close; left set, a process that is not root
    // could never open the port again (the speed switch reopens it).
    ::ioctl(FHandle, TIOCNXCL);
    RestoreLowLatency();
    // Bytes already written go out at the settings they were written under.
    while (::ioctl(FHandle, TCSBRK, 1) != 0 && errno == EINTR) {
    }
    ::flock(FHandle, LOCK_UN);
    ::close(FHandle);
    FHandle = -1;
}

void TComPort::EnableLowLatency() {
    // A USB adapter otherwise holds each short reply for up to 16 ms. Best effort: ptys and
    // most built-in UARTs have no such setting.
    serial_struct serial{};
    if (::ioctl(FHandle, TIOCGSERIAL, &serial) != 0)
        return;
    FSavedSerialFlags = serial.flags;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(FHandle, TIOCSSERIAL, &serial);
}

void TComPort::RestoreLowLatency() {
    if (FSavedSerialFlags < 0)
        return;
    serial_struct serial{};
    if (::ioctl(FHandle, TIOCGSERIAL, &serial) == 0 && serial.flags != FSavedSerialFlags) {
        serial.flags = FSavedSerialFlags;
        ::ioctl(FHandle, TIOCSSERIAL, &serial);
    }
    FSavedSerialFlags = -1;
}

void TComPort::ApplyBuffer() {
    // Linux tty queues have a fixed size; only a nonsensical request is refused.
    if (FBuffer.InputSize < 0 || FBuffer.OutputSize < 0)
        RaisePortError(ComPortError::SetupComm, EINVAL);
}

void TComPort::ApplyLineSettings() {
    termios2 tio{};
    if (::ioctl(FHandle, TCGETS2, &tio) != 0)
        RaisePortError(ComPortError::SetCommState);
    SetRaw(tio);
    if (!SetSpeed(tio, *this) || !SetFrame(tio, *this) || !SetFlow(tio, FFlowControl))
        RaisePortError(ComPortError::SetCommState, EINVAL);
    // A pty accepts the request and keeps 8N1 whatever was asked; that is how ptys are, so
    // the result is deliberately not read back and compared.
    if (::ioctl(FHandle, TCSETS2, &tio) != 0)
        RaisePortError(ComPortError::SetCommState);
    ApplyModemLines();
}

void TComPort::ApplyModemLines() {
    SetModemLine(FHandle, TIOCM_DTR, FFlowControl.ControlDTR == dtrEnable);
    if (FFlowControl.ControlRTS != rtsHandshake)
        SetModemLine(FHandle, TIOCM_RTS, FFlowControl.ControlRTS == rtsEnable);
}

void TComPort::ClearInput() {
    RequireOpen(ComPortError::PurgeComm);
    if (::ioctl(FHandle, TCFLSH, TCIFLUSH) != 0)
        RaisePortError(ComPortError::PurgeComm);
}

std::int32_t TComPort::Write(const void* buffer, std::int32_t count) {
    RequireOpen(ComPortError::WriteFile);
    if (count <= 0)
        return 0;
    const Deadline deadline(
        TimeLimitMs(FTimeouts.WriteTotalConstant, FTimeouts.WriteTotalMultiplier, count));
    const auto* bytes = static_cast<const char*>(buffer);
    std::int32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, bytes + done, static_cast<std::size_t>(count - done));
        if (n > 0) {
            done += static_cast<std::int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            RaisePortError(ComPortError::WriteFile);
        if (deadline.Expired())
            break;
        WaitForEvents(FHandle, POLLOUT, deadline);
    }
    return done;
}

std::int32_t TComPort::Read(void* buffer, std::int32_t count) {
    RequireOpen(ComPortError::ReadFile);
    if (count <= 0)
        return 0;
    // No gap limit between bytes (ReadInterval): the program never sets one.
    const Deadline deadline(
        TimeLimitMs(FTimeouts.ReadTotalConstant, FTimeouts.ReadTotalMultiplier, count));
    auto* bytes = static_cast<char*>(buffer);
    std::int32_t got = 0;
    bool hungUp = false;
    while (got < count) {
        const ssize_t n = ::read(FHandle, bytes + got, static_cast<std::size_t>(count - got));
        if (n > 0) {
            got += static_cast<std::int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            RaisePortError(ComPortError::ReadFile);
        // A device that went away (an unplugged adapter) stays "ready" with nothing to read;
        // waiting on would spin until the deadline.
        if (hungUp)
            RaisePortError(ComPortError::ReadFile, EIO);
        if (deadline.Expired())
            break;
        hungUp = (WaitForEvents(FHandle, POLLIN, deadline) & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return got;
}
