#include "sim/unit.h"

#include "platform/exceptions.h"
#include "sim/model.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The host's read time limit for each reply, in milliseconds: the shortest it ever uses for
// that exchange. A slow reply arrives at three quarters of it.
int HostLimitMs(SimExchange exchange) {
    switch (exchange) {
    case SimExchange::UserConnect:
        return 1000;
    case SimExchange::BootConnect:
        return 100;
    case SimExchange::BaudRegister:
    case SimExchange::Ack:
    case SimExchange::Identity:
        return 500;
    case SimExchange::Erase:
    case SimExchange::Block:
    case SimExchange::Final:
        return 5000;
    }
    return 100;
}
constexpr double KSlowReplyShare = 0.75;

// What the extra-reply-bytes fault appends, and how many bytes of noise follow each reply.
const std::string KExtraReplyBytes = "\xA5\x5A\xA5";
constexpr int KNoiseBytes = 4;
// A host that reads nothing for this long gets the rest of a reply dropped, so that the unit
// never hangs on a full pty.
constexpr auto KWriteStall = std::chrono::milliseconds(1000);

Clock::duration CharacterTime(const SimLine& line) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(line.BitsPerCharacter() / line.BitsPerSecond));
}

std::string ErrnoText() {
    return std::strerror(errno);
}

void SetCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

class SimulatedUnit::Impl {
public:
    explicit Impl(SimConfig config);
    ~Impl();

    void Start();
    void Stop();

    const std::string& SlavePath() const { return FSlavePath; }
    const std::string& PortName() const {
        return FConfig.LinkPath.empty() ? FSlavePath : FConfig.LinkPath;
    }
    std::vector<std::uint8_t> Flash() const;
    std::vector<std::string> Trace() const;
    SimStatus Status() const;
    bool WaitFor(const std::function<bool(const SimStatus&)>& condition,
                 std::chrono::milliseconds timeout) const;

private:
    struct Received {
        std::uint8_t Byte;
        std::optional<SimLineReading> Line; // the slave's settings when it was read
        Clock::time_point Arrival;
    };

    bool HasFault(SimFaultKind kind) const;
    void HangUp();
    void OpenPty();
    void MakeLink();
    void RemoveLink();
    void ClosePty();

    void Serve();
    void ProcessByte(const Received& received);
    bool Perform(const SimAction& action);
    void SendReply(const SimAction& action);
    bool WriteAll(const std::string& bytes);
    // Waits until the deadline, taking in whatever the host sends meanwhile; false when the
    // unit is told to stop.
    bool SleepUntil(Clock::time_point deadline);
    bool WaitForInput();
    bool ReadInput();
    void NoteIgnored(const Received& received, const SimLine& listening);
    void FlushIgnored();

    void AddTrace(const std::string& text);
    void SaveFlash();
    void Publish();
    SimStatus StatusLocked() const;

    SimConfig FConfig;
    const Clock::time_point FCreated = Clock::now();

    mutable std::mutex FMutex; // guards the model, the trace and the published status
    mutable std::condition_variable FChanged;
    SimUnitModel FModel;
    SimStatus FPublished;
    std::vector<std::string> FTrace;
    bool FServing = false;
    std::string FError;

    int FMaster = -1;
    int FSlaveKeep = -1; // holds the slave open so that the master never sees a hangup
    int FWake[2] = {-1, -1};
    std::string FSlavePath;
    bool FLinkMade = false;
    std::ofstream FTraceFile;

    std::thread FThread;
    std::atomic<bool> FStopRequested{false};
    std::deque<Received> FInput;
    Clock::time_point FReceiveFree{}; // wire timing: when the receiver is free again
    std::minstd_rand FNoise{1};
    bool FModelListening = true; // copied from the model with each byte
    int FIgnoredRun = 0;
    std::string FIgnoredWhy;
};

SimulatedUnit::Impl::Impl(SimConfig config) : FConfig(std::move(config)), FModel(FConfig) {
    FPublished = FModel.Status();
    if (!FConfig.TracePath.empty()) {
        FTraceFile.open(FConfig.TracePath, std::ios::out | std::ios::trunc);
        if (!FTraceFile)
            throw Exception("Cannot write the trace file " + FConfig.TracePath + ": " +
                            ErrnoText());
    }
    OpenPty();
    try {
        MakeLink();
    } catch (...) {
        ClosePty();
        throw;
    }
}

SimulatedUnit::Impl::~Impl() {
    Stop();
    RemoveLink();
    ClosePty();
}

void SimulatedUnit::Impl::OpenPty() {
    char name[256] = {};
    if (openpty(&FMaster, &FSlaveKeep, name, nullptr, nullptr) != 0)
        throw Exception("Cannot open a pseudo-terminal: " + ErrnoText());
    FSlavePath = name;
    // Raw from the start: a slave that echoed would answer the host with its own bytes.
    termios raw{};
    tcgetattr(FSlaveKeep, &raw);
    cfmakeraw(&raw);
    tcsetattr(FSlaveKeep, TCSANOW, &raw);
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    SetCloseOnExec(FMaster);
    SetCloseOnExec(FSlaveKeep);
    if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        ClosePty();
        throw Exception("Cannot make the unit's wake-up pipe: " + ErrnoText());
    }
}

void SimulatedUnit::Impl::ClosePty() {
    for (int* fd : {&FMaster, &FSlaveKeep, &FWake[0], &FWake[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void SimulatedUnit::Impl::MakeLink() {
    const std::string& link = FConfig.LinkPath;
    if (link.empty())
        return;
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        // A link left by a unit that was killed is replaced; anything else is not ours.
        if (!S_ISLNK(info.st_mode))
            throw Exception("Cannot make the link " + link + ": it exists and is no symlink");
        if (unlink(link.c_str()) != 0)
            throw Exception("Cannot replace the link " + link + ": " + ErrnoText());
    }
    if (symlink(FSlavePath.c_str(), link.c_str()) != 0)
        throw Exception("Cannot make the link " + link + ": " + ErrnoText());
    FLinkMade = true;
}

void SimulatedUnit::Impl::RemoveLink() {
    if (!FLinkMade)
        return;
    FLinkMade = false;
    char target[256] = {};
    const ssize_t n = readlink(FConfig.LinkPath.c_str(), target, sizeof target - 1);
    // Only our own link goes: another unit may have taken the name since.
    if (n > 0 && FSlavePath == std::string(target, static_cast<std::size_t>(n)))
        unlink(FConfig.LinkPath.c_str());
}

void SimulatedUnit::Impl::Start() {
    if (FThread.joinable())
        return;
    {
        std::lock_guard lock(FMutex);
        if (FMaster < 0)
            return; // hung up: nothing left to serve
        FServing = true;
    }
    FStopRequested = false;
    FThread = std::thread([this] { Serve(); });
}

void SimulatedUnit::Impl::Stop() {
    if (FThread.joinable()) {
        FStopRequested = true;
        const char wake = 1;
        [[maybe_unused]] const ssize_t ignored = write(FWake[1], &wake, 1);
        FThread.join();
        char drain[16];
        while (read(FWake[0], drain, sizeof drain) > 0) {
        }
    }
    if (!FConfig.FlashOutPath.empty())
        SaveFlash();
}

std::vector<std::uint8_t> SimulatedUnit::Impl::Flash() const {
    std::lock_guard lock(FMutex);
    return FModel.Flash();
}

std::vector<std::string> SimulatedUnit::Impl::Trace() const {
    std::lock_guard lock(FMutex);
    return FTrace;
}

SimStatus SimulatedUnit::Impl::StatusLocked() const {
    SimStatus status = FPublished;
    status.Serving = FServing;
    status.Error = FError;
    return status;
}

SimStatus SimulatedUnit::Impl::Status() const {
    std::lock_guard lock(FMutex);
    return StatusLocked();
}

bool SimulatedUnit::Impl::WaitFor(const std::function<bool(const SimStatus&)>& condition,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return condition(StatusLocked()); });
}

void SimulatedUnit::Impl::Publish() {
    {
        std::lock_guard lock(FMutex);
        FPublished = FModel.Status();
    }
    FChanged.notify_all();
}

void SimulatedUnit::Impl::AddTrace(const std::string& text) {
    char stamp[32];
    const std::chrono::duration<double> since = Clock::now() - FCreated;
    std::snprintf(stamp, sizeof stamp, "%9.3f ", since.count());
    const std::string line = stamp + text;
    if (FTraceFile.is_open()) {
        FTraceFile << line << '\n';
        FTraceFile.flush();
    }
    if (FConfig.OnTrace)
        FConfig.OnTrace(line);
    if (FConfig.KeepTrace) {
        std::lock_guard lock(FMutex);
        FTrace.push_back(line);
    }
}

void SimulatedUnit::Impl::SaveFlash() {
    const std::vector<std::uint8_t> flash = Flash();
    const std::string& path = FConfig.FlashOutPath;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
        out.close();
        if (!out) {
            AddTrace("flash file: cannot write " + temporary);
            std::remove(temporary.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        AddTrace("flash file: cannot rename " + temporary + " to " + path + ": " + ErrnoText());
        std::remove(temporary.c_str());
    }
}

void SimulatedUnit::Impl::Serve() {
    while (!FStopRequested) {
        if (FInput.empty()) {
            FlushIgnored();
            if (!WaitForInput())
                break;
            continue;
        }
        const Received received = FInput.front();
        FInput.pop_front();
        if (FConfig.WireTiming) {
            SimLine listening;
            {
                std::lock_guard lock(FMutex);
                listening = FModel.ListeningLine();
            }
            FReceiveFree = std::max(FReceiveFree, received.Arrival) + CharacterTime(listening);
            if (!SleepUntil(FReceiveFree))
                break;
        }
        ProcessByte(received);
        if (FMaster < 0)
            break; // hung up
    }
    FlushIgnored();
    std::lock_guard lock(FMutex);
    FServing = false;
    FChanged.notify_all();
}

void SimulatedUnit::Impl::ProcessByte(const Received& received) {
    std::vector<SimAction> actions;
    bool heard = true;
    SimLine listening;
    {
        std::lock_guard lock(FMutex);
        listening = FModel.ListeningLine();
        FModelListening = FModel.Listening();
        // A pty that cannot be asked is not held against the host.
        heard = FConfig.LenientLine || !received.Line || FModel.Hears(*received.Line);
        if (!heard)
            FModel.CountIgnored(1);
        FModel.Feed(received.Byte, heard);
        actions = FModel.TakeActions();
    }
    if (heard)
        FlushIgnored();
    else
        NoteIgnored(received, listening);
    for (const SimAction& action : actions)
        if (!Perform(action))
            break;
    Publish();
}

void SimulatedUnit::Impl::NoteIgnored(const Received& received, const SimLine& listening) {
    std::string why;
    if (!FModelListening) {
        why = "a wrong register value put the unit at another speed";
    } else {
        why = "the host is at " + std::to_string(received.Line->BitsPerSecond) + " bits/s, " +
              (received.Line->TwoStopBits ? "2 stop bits" : "1 stop bit") +
              "; the unit listens at " + listening.Describe();
    }
    if (FIgnoredRun > 0 && why != FIgnoredWhy)
        FlushIgnored();
    FIgnoredWhy = why;
    ++FIgnoredRun;
}

void SimulatedUnit::Impl::FlushIgnored() {
    if (FIgnoredRun == 0)
        return;
    AddTrace("line: ignored " + std::to_string(FIgnoredRun) + " bytes: " + FIgnoredWhy);
    FIgnoredRun = 0;
}

bool SimulatedUnit::Impl::Perform(const SimAction& action) {
    switch (action.What) {
    case SimAction::Note:
        AddTrace(action.Bytes);
        return true;
    case SimAction::Reply:
        SendReply(action);
        return !FStopRequested;
    case SimAction::FlashSettled:
        if (!FConfig.FlashOutPath.empty())
            SaveFlash();
        return true;
    case SimAction::Hangup:
        HangUp();
        return false;
    }
    return true;
}

void SimulatedUnit::Impl::SendReply(const SimAction& action) {
    // Extra bytes and noise travel in the same write as the reply's last byte: a pty hands the
    // host a write as a whole, so they are in before the host's next discard and can never be
    // read as the next reply.
    std::string trailer;
    if (HasFault(SimFaultKind::ExtraReplyBytes))
        trailer += KExtraReplyBytes;
    if (HasFault(SimFaultKind::Noise))
        for (int i = 0; i < KNoiseBytes; ++i)
            trailer += static_cast<char>(FNoise() & 0xFF);
    const std::string& reply = action.Bytes;
    const Clock::duration perByte = CharacterTime(action.Line);
    if (HasFault(SimFaultKind::SlowReply)) {
        const Clock::duration onWire =
            FConfig.WireTiming ? perByte * static_cast<long>(reply.size()) : Clock::duration{};
        const auto limit = std::chrono::duration_cast<Clock::duration>(
            std::chrono::milliseconds(HostLimitMs(action.Exchange)) * KSlowReplyShare);
        if (!SleepUntil(Clock::now() + (limit - onWire)))
            return;
    }
    if (!FConfig.WireTiming) {
        WriteAll(reply + trailer);
        return;
    }
    // Each byte is there once its last stop bit is.
    for (std::size_t i = 0; i < reply.size(); ++i) {
        const bool last = i + 1 == reply.size();
        if (!SleepUntil(Clock::now() + perByte) ||
            !WriteAll(reply.substr(i, 1) + (last ? trailer : std::string())))
            return;
    }
}

bool SimulatedUnit::Impl::HasFault(SimFaultKind kind) const {
    return std::any_of(FConfig.Faults.begin(), FConfig.Faults.end(),
                       [kind](const SimFault& fault) { return fault.Kind == kind; });
}

void SimulatedUnit::Impl::HangUp() {
    // A pty hangup throws away what the host has not read yet, while on a real line the last
    // reply would still arrive: give the host time to read it first.
    const auto deadline = Clock::now() + KWriteStall;
    int waiting = 0;
    do {
        if (!SleepUntil(Clock::now() + std::chrono::milliseconds(10)))
            break;
    } while (ioctl(FSlaveKeep, FIONREAD, &waiting) == 0 && waiting > 0 && Clock::now() < deadline);
    // Both ends of the unit go, so the host's next read or write sees the line gone.
    for (int* fd : {&FMaster, &FSlaveKeep}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    FInput.clear();
}

bool SimulatedUnit::Impl::WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    auto stalledSince = Clock::now();
    while (done < bytes.size()) {
        const ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalledSince = Clock::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            AddTrace("line: write failed: " + ErrnoText());
            return false;
        }
        if (Clock::now() - stalledSince > KWriteStall) {
            AddTrace("line: the host reads nothing; dropped " +
                     std::to_string(bytes.size() - done) + " bytes of the reply");
            return false;
        }
        pollfd fds[2] = {{FMaster, POLLOUT, 0}, {FWake[0], POLLIN, 0}};
        poll(fds, 2, 50);
        if (FStopRequested)
            return false;
    }
    return true;
}

bool SimulatedUnit::Impl::ReadInput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(FMaster, buffer, sizeof buffer);
        if (n > 0) {
            // Read the settings at once: the host may change them right after its write.
            const std::optional<SimLineReading> line = ReadSlaveLine(FMaster);
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i)
                FInput.push_back({static_cast<std::uint8_t>(buffer[i]), line, now});
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        std::lock_guard lock(FMutex);
        FError = n == 0 ? "the pty was closed" : "reading the pty failed: " + ErrnoText();
        return false;
    }
}

bool SimulatedUnit::Impl::SleepUntil(Clock::time_point deadline) {
    for (;;) {
        if (FStopRequested)
            return false;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        pollfd fds[2] = {{FWake[0], POLLIN, 0}, {FMaster, POLLIN, 0}};
        const int count = FMaster >= 0 ? 2 : 1;
        if (ppoll(fds, count, &wait, nullptr) > 0 && count == 2 && (fds[1].revents & POLLIN) &&
            !ReadInput())
            return false;
    }
}

bool SimulatedUnit::Impl::WaitForInput() {
    pollfd fds[2] = {{FWake[0], POLLIN, 0}, {FMaster, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) {
        std::lock_guard lock(FMutex);
        FError = "waiting for the host failed: " + ErrnoText();
        return false;
    }
    if (FStopRequested)
        return false;
    if (fds[1].revents & POLLIN)
        return ReadInput();
    if (fds[1].revents & (POLLHUP | POLLERR)) {
        std::lock_guard lock(FMutex);
        FError = "the pty hung up";
        return false;
    }
    return true;
}

SimulatedUnit::SimulatedUnit(SimConfig config) : FImpl(std::make_unique<Impl>(std::move(config))) {}
SimulatedUnit::~SimulatedUnit() = default;
const std::string& SimulatedUnit::SlavePath() const {
    return FImpl->SlavePath();
}
const std::string& SimulatedUnit::PortName() const {
    return FImpl->PortName();
}
void SimulatedUnit::Start() {
    FImpl->Start();
}
void SimulatedUnit::Stop() {
    FImpl->Stop();
}
std::vector<std::uint8_t> SimulatedUnit::Flash() const {
    return FImpl->Flash();
}
std::vector<std::string> SimulatedUnit::Trace() const {
    return FImpl->Trace();
}
SimStatus SimulatedUnit::Status() const {
    return FImpl->Status();
}
bool SimulatedUnit::WaitFor(const std::function<bool(const SimStatus&)>& condition,
                            std::chrono::milliseconds timeout) const {
    return FImpl->WaitFor(condition, timeout);
}
