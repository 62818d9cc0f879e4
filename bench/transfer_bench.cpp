// daltoven-flash-bench: how fast a full-size image goes through the flash target.
//
// 1. Against the simulated unit on a pty, unthrottled: the median time of one 128-byte block
//    exchange (block, reply, continue byte), beside the bare round trip of the same bytes over
//    a pty with a plain write/poll/read loop, measured in the same run.
// 2. The same run with the unit moving bytes at the wire's pace, programming at 115200 baud:
//    the run's time beside the wire time of the bytes exchanged plus the waits the protocol
//    prescribes.
//
// A block exchange is timed between two consecutive progress steps of a transfer: the device
// advances the bar once per block, right after judging its reply.
#include "package/exist_ms.h"
#include "platform/controls.h"
#include "sim/unit.h"
#include "target/h83664.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

constexpr std::uint32_t FlashStart = 0x2000;
constexpr std::uint32_t ImageBytes = 253952; // the whole flash region, 0x3E000
constexpr int BlockBytes = 128;
constexpr int Blocks = ImageBytes / BlockBytes;
constexpr int BitsPerCharacter = 10; // start, 8 data bits, stop

// Records the moment of every block step of a transfer.
class TTimedBar : public TProgressBar {
public:
    std::vector<Micros> BlockIntervals;

protected:
    void Changed() override {
        const auto now = Clock::now();
        const bool newRange = Max() != FLastMax;
        FLastMax = Max();
        if (newRange || Position() <= FLastPosition) {
            FLastPosition = Position();
            FHaveStep = false;
            return;
        }
        if (Max() >= BlockBytes && Position() - FLastPosition == BlockBytes && FHaveStep)
            BlockIntervals.push_back(now - FLastStep);
        FLastPosition = Position();
        FLastStep = now;
        FHaveStep = true;
    }

private:
    int FLastMax = -1;
    int FLastPosition = 0;
    bool FHaveStep = false;
    Clock::time_point FLastStep;
};

double Median(std::vector<Micros> samples) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2].count();
}

double Percentile(std::vector<Micros> samples, double share) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(share * static_cast<double>(samples.size() - 1))]
        .count();
}

std::vector<std::uint8_t> TestImage() {
    std::vector<std::uint8_t> image(ImageBytes);
    std::uint32_t x = 0x2545F491;
    for (std::uint8_t& byte : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    return image;
}

struct TRunResult {
    std::vector<Micros> BlockIntervals;
    double Seconds = 0;
    // Connect, erase, program, verify (run writes four bytes and waits for nothing).
    double StepSeconds[4] = {};
    bool FlashMatches = false;
};

// One whole run by the user method: connect, erase, program, verify, run.
TRunResult ProgramOnce(bool wireTiming, TBaudRate programSpeed) {
    const std::vector<std::uint8_t> image = TestImage();
    SimConfig config;
    config.KeepTrace = false;
    config.WireTiming = wireTiming;
    config.Program.BaudRate = programSpeed;
    SimulatedUnit unit(config);
    unit.Start();

    TLabel status;
    TTimedBar bar;
    THitachiFlash flash(nullptr, &status, &bar);
    flash.FlashStart = config.FlashStart;
    flash.FlashLength = config.FlashLength;
    flash.FlashCheckSeed = config.CheckSeed;
    flash.ConnectionInfo.ProgramPort->SetBaudRate(programSpeed);

    THalcotComPort userPort;
    userPort.SetPort(unit.SlavePath());
    TConnectionSelection selection;
    selection.Mode = ConnectModeUser;
    selection.UseDtr = true;
    selection.Port = &userPort;

    TRunResult result;
    TExistingMemoryStream stream(image.data(), static_cast<std::int64_t>(image.size()));
    const auto start = Clock::now();
    auto stepStart = start;
    const auto timeStep = [&](int step) {
        const auto now = Clock::now();
        result.StepSeconds[step] = std::chrono::duration<double>(now - stepStart).count();
        stepStart = now;
    };
    flash.Configure(selection);
    flash.Connect();
    timeStep(0);
    flash.Erase();
    timeStep(1);
    flash.ProgramImage(stream);
    timeStep(2);
    flash.VerifyImage(stream);
    timeStep(3);
    flash.Run();
    const auto end = Clock::now();
    flash.Disconnect();
    unit.WaitFor([](const SimStatus& s) { return s.Runs >= 1; }, std::chrono::seconds(5));
    unit.Stop();

    result.BlockIntervals = bar.BlockIntervals;
    result.Seconds = std::chrono::duration<double>(end - start).count();
    const std::vector<std::uint8_t> flashBytes = unit.Flash();
    result.FlashMatches = flashBytes.size() >= image.size() &&
                          std::equal(image.begin(), image.end(), flashBytes.begin());
    return result;
}

void RequireIo(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

bool ReadExactly(int fd, std::uint8_t* buffer, int count) {
    int got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer + got, static_cast<std::size_t>(count - got));
        if (n <= 0)
            return false;
        got += static_cast<int>(n);
    }
    return true;
}

// The same bytes as a block exchange, with nothing but the pty between the two sides.
std::vector<Micros> BareRoundTrips(int exchanges) {
    int master = -1;
    int slave = -1;
    RequireIo(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0, "openpty");
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    std::thread peer([master, exchanges] {
        std::uint8_t block[BlockBytes];
        const std::uint8_t accepted = 0;
        for (int i = 0; i < exchanges; ++i) {
            std::uint8_t next = 0;
            if (!ReadExactly(master, block, BlockBytes) || ::write(master, &accepted, 1) != 1 ||
                !ReadExactly(master, &next, 1))
                return;
        }
    });

    std::vector<Micros> times;
    std::uint8_t block[BlockBytes] = {};
    const std::uint8_t next = 0;
    auto last = Clock::now();
    for (int i = 0; i < exchanges; ++i) {
        std::uint8_t reply = 0xFF;
        if (::write(slave, block, BlockBytes) != BlockBytes || !ReadExactly(slave, &reply, 1) ||
            ::write(slave, &next, 1) != 1)
            break;
        const auto now = Clock::now();
        times.push_back(now - last);
        last = now;
    }
    peer.join();
    ::close(slave);
    ::close(master);
    return times;
}

// Bytes on the wire of one whole run by the user method with the default connect strings,
// and the waits the protocol prescribes (UseDtr set).
struct TWireBudget {
    double Seconds = 0;
    double StepSeconds[4] = {}; // connect, erase, program, verify
    double WaitSeconds = 0;
    long BytesAtConnect = 0;
    long BytesAtProgram = 0;
};

TWireBudget WireBudget(int connectBaud, int programBaud) {
    constexpr long UserConnect = 8 + 8;         // STX "QD7315" ETX, and the 8-byte response
    constexpr long SwitchAtConnect = 2 + 1 + 1; // request, register, new register
    constexpr long Echo = 5 + 5;
    constexpr long Identity = 4 + 30;
    constexpr long EraseExchange = 12 + 1;
    constexpr long TransferHeader = 12;
    constexpr long PerBlock = BlockBytes + 1 + 1; // block, reply, continue or final byte
    constexpr long FinalReply = 1;
    constexpr long RunCommand = 4;
    const long transfer = TransferHeader + Blocks * PerBlock + FinalReply + Identity;

    TWireBudget budget;
    budget.BytesAtConnect = UserConnect + SwitchAtConnect;
    // Identities: the ping that ends the connect, the identity check, and one after the
    // erase (each transfer counts its own).
    budget.BytesAtProgram =
        Echo + 2 * Identity + EraseExchange + Identity + 2 * transfer + RunCommand;
    // 200 ms after the connect settings, 500 ms before the switch, 200 ms after it, and
    // 100 ms after each transfer header.
    budget.WaitSeconds = 0.2 + 0.5 + 0.2 + 2 * 0.1;
    const auto atProgram = [programBaud](long bytes) {
        return static_cast<double>(bytes * BitsPerCharacter) / programBaud;
    };
    budget.StepSeconds[0] =
        0.9 + static_cast<double>(budget.BytesAtConnect * BitsPerCharacter) / connectBaud +
        atProgram(Echo + 2 * Identity);
    budget.StepSeconds[1] = atProgram(EraseExchange + Identity);
    budget.StepSeconds[2] = 0.1 + atProgram(transfer);
    budget.StepSeconds[3] = budget.StepSeconds[2];
    budget.Seconds = budget.StepSeconds[0] + budget.StepSeconds[1] + budget.StepSeconds[2] +
                     budget.StepSeconds[3] + atProgram(RunCommand);
    return budget;
}

void ReportUnthrottled() {
    // The machine is shared and noisy: several rounds, each a whole run and a bare loop of as
    // many exchanges right after it, and the median of the rounds' ratios.
    constexpr int Rounds = 5;
    std::printf("Unthrottled, %u-byte image, program and verify, %d rounds:\n", ImageBytes, Rounds);
    std::vector<double> ratios;
    bool allMatch = true;
    for (int round = 1; round <= Rounds; ++round) {
        std::fprintf(stderr, "Unthrottled run %d of %d...\n", round, Rounds);
        const TRunResult run = ProgramOnce(false, br9600);
        const std::vector<Micros> bare =
            BareRoundTrips(static_cast<int>(run.BlockIntervals.size()));
        const double block = Median(run.BlockIntervals);
        const double trip = Median(bare);
        ratios.push_back(trip > 0 ? block / trip : 0.0);
        allMatch = allMatch && run.FlashMatches;
        std::printf("  round %d: %zu block exchanges, median %6.1f us (90th percentile %6.1f); "
                    "bare round trip median %6.1f us (90th percentile %6.1f); ratio %.2f; "
                    "whole run %.2f s\n",
                    round, run.BlockIntervals.size(), block, Percentile(run.BlockIntervals, 0.9),
                    trip, Percentile(bare, 0.9), ratios.back(), run.Seconds);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("  block exchange / bare round trip: median ratio %.2f (from %.2f to %.2f)\n",
                ratios[ratios.size() / 2], ratios.front(), ratios.back());
    std::printf("  flash %s the image\n", allMatch ? "equals" : "DIFFERS FROM");
}

void ReportWireTimed() {
    constexpr int ConnectBaud = 9600;
    constexpr int ProgramBaud = 115200;
    const TWireBudget budget = WireBudget(ConnectBaud, ProgramBaud);
    std::fprintf(stderr, "Wire-timed run at %d baud (about %.0f s)...\n", ProgramBaud,
                 budget.Seconds);
    const TRunResult run = ProgramOnce(true, br115200);
    const double wirePerBlock = (BlockBytes + 2.0) * BitsPerCharacter / ProgramBaud * 1e6;
    std::printf("Wire timing, connect %d baud, programming %d baud:\n", ConnectBaud, ProgramBaud);
    std::printf("  bytes on the wire: %ld at %d, %ld at %d; prescribed waits %.1f s\n",
                budget.BytesAtConnect, ConnectBaud, budget.BytesAtProgram, ProgramBaud,
                budget.WaitSeconds);
    std::printf("  block exchange: median %.1f us against %.1f us on the wire\n",
                Median(run.BlockIntervals), wirePerBlock);
    const char* const steps[] = {"connect", "erase", "program", "verify"};
    for (int step = 0; step < 4; ++step)
        std::printf("  %-8s %7.3f s against %7.3f s\n", steps[step], run.StepSeconds[step],
                    budget.StepSeconds[step]);
    std::printf("  run: %.2f s against %.2f s of wire time and waits; ratio %.3f\n", run.Seconds,
                budget.Seconds, run.Seconds / budget.Seconds);
    std::printf("  flash %s the image\n", run.FlashMatches ? "equals" : "DIFFERS FROM");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && std::string(argv[1]) == "--unthrottled-only";
    if (argc > 1 && !quick) {
        std::fprintf(stderr, "Usage: daltoven-flash-bench [--unthrottled-only]\n");
        return 2;
    }
    try {
        ReportUnthrottled();
        if (!quick)
            ReportWireTimed();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "daltoven-flash-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
