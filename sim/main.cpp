// daltoven-unitsim: a simulated unit on a pseudo-terminal, for trying the programmer without
// hardware and for checking a release before it ships.
#include "package/release_file.h"
#include "platform/exceptions.h"
#include "sim/unit.h"

#include <signal.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int KExitOk = 0;
constexpr int KExitFailed = 1;
constexpr int KExitUsage = 2;

const char* const KHelp = R"(Usage: daltoven-unitsim [options]

Serves a simulated unit (its firmware, boot loader and flash loader) on a new pseudo-terminal.
The first line on standard output is the terminal's path: open it as the serial port. Each
exchange is logged on standard error.

  --release FILE      take the flash definition, serial settings and connect strings from a
                      package or a release program (default: flash 0x2000 + 0x3E000, seed 0,
                      9600 8N1, the default connect strings)
  --seed N            check seed the unit reports (0 to 65535)
  --start ADDRESS     flash start address
  --length BYTES      flash length
  --id TEXT           identity text, at most 20 bytes
  --register N        baud-rate register value at the connect speed (0 to 255, default 103)
  --flash-in FILE     flash contents at start (at most the flash length; the rest is 0xFF)
  --flash-out FILE    write the flash after every program, verify and run, and at exit
  --trace FILE        write one line per exchange, with the time, to FILE
  --link PATH         also make PATH a symlink to the terminal (removed at exit)
  --reset-after N     the user resets the unit after N boot connect strings
  --no-user-method    the firmware ignores the user connect string
  --lenient-line      answer whatever line settings the host uses
  --wire-timing       move bytes no faster than the serial line would
  --fault NAME[@N]    commit a fault (repeatable): no-reply, wrong-reply, wrong-boot-reply,
                      no-baud-register, bad-ack, no-ack, id-timeout, erase-fail,
                      erase-unexpected, erase-timeout, block-fail, block-unexpected,
                      block-timeout, final-fail, final-unexpected, hangup, noise,
                      extra-reply-bytes, slow-reply; @N picks the N-th occurrence (the block
                      number for the block faults and hangup), none means every one
  --once              exit 0 after the first run command, non-zero if the session ends
                      otherwise
  --quiet             log nothing on standard error
  --help              show this text
Numbers are decimal, or hexadecimal with 0x. SIGINT and SIGTERM end the unit cleanly.
)";

class UsageError : public Exception {
public:
    using Exception::Exception;
};

std::uint64_t ParseNumber(const std::string& option, const std::string& text,
                          std::uint64_t maximum) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    std::uint64_t value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, hex ? 16 : 10);
    if (text.empty() || error != std::errc() || stop != end || value > maximum)
        throw UsageError(option + ": \"" + text + "\" is not a number from 0 to " +
                         std::to_string(maximum));
    return value;
}

SimFault ParseFaultOption(const std::string& text) {
    try {
        return ParseSimFault(text);
    } catch (const Exception& error) {
        throw UsageError("--fault: " + error.Message());
    }
}

struct Options {
    SimConfig Config;
    std::string ReleasePath;
    std::string FlashInPath;
    std::optional<std::uint16_t> Seed;
    std::optional<std::uint32_t> Start;
    std::optional<std::uint32_t> Length;
    std::optional<std::string> IdText;
    bool Once = false;
    bool Quiet = false;
    bool Help = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    SimConfig& config = options.Config;
    constexpr auto u32Max = std::numeric_limits<std::uint32_t>::max();
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw UsageError(option + " needs a value");
            return argv[++i];
        };
        if (option == "--help" || option == "-h")
            options.Help = true;
        else if (option == "--release")
            options.ReleasePath = value();
        else if (option == "--seed")
            options.Seed = static_cast<std::uint16_t>(ParseNumber(option, value(), 0xFFFF));
        else if (option == "--start")
            options.Start = static_cast<std::uint32_t>(ParseNumber(option, value(), u32Max));
        else if (option == "--length")
            options.Length = static_cast<std::uint32_t>(ParseNumber(option, value(), u32Max));
        else if (option == "--id")
            options.IdText = value();
        else if (option == "--register")
            config.BaudRegister = static_cast<std::uint8_t>(ParseNumber(option, value(), 0xFF));
        else if (option == "--flash-in")
            options.FlashInPath = value();
        else if (option == "--flash-out")
            config.FlashOutPath = value();
        else if (option == "--trace")
            config.TracePath = value();
        else if (option == "--link")
            config.LinkPath = value();
        else if (option == "--reset-after")
            config.ResetAfter = static_cast<int>(ParseNumber(option, value(), 1000000));
        else if (option == "--no-user-method")
            config.NoUserMethod = true;
        else if (option == "--lenient-line")
            config.LenientLine = true;
        else if (option == "--wire-timing")
            config.WireTiming = true;
        else if (option == "--fault")
            config.Faults.push_back(ParseFaultOption(value()));
        else if (option == "--once")
            options.Once = true;
        else if (option == "--quiet")
            options.Quiet = true;
        else
            throw UsageError("unknown option \"" + option + "\" (see --help)");
    }
    return options;
}

// The release first, then the options that override it.
void ApplyDefinition(Options& options) {
    SimConfig& config = options.Config;
    if (!options.ReleasePath.empty())
        config.LoadRelease(ReadPackageBlockFromFile(options.ReleasePath));
    if (options.Seed)
        config.CheckSeed = *options.Seed;
    if (options.Start)
        config.FlashStart = *options.Start;
    if (options.Length)
        config.FlashLength = *options.Length;
    if (options.IdText)
        config.IdText = *options.IdText;
    if (!options.FlashInPath.empty())
        config.FlashContents = ReadWholeFile(options.FlashInPath);
}

// Serves until a signal, the end of the session, or (with --once) the first run.
int Serve(SimulatedUnit& unit, bool once, const sigset_t& signals) {
    const timespec tick{0, 100 * 1000 * 1000};
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &tick);
        const SimStatus status = unit.Status();
        if (once && status.Runs > 0)
            return KExitOk;
        if (signal > 0)
            return once ? KExitFailed : KExitOk;
        if (!status.Serving) {
            std::cerr << "daltoven-unitsim: the session ended"
                      << (status.Error.empty() ? "" : ": " + status.Error) << '\n';
            return KExitFailed;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = ParseOptions(argc, argv);
        if (options.Help) {
            std::cout << KHelp;
            return KExitOk;
        }
        ApplyDefinition(options);
    } catch (const UsageError& error) {
        std::cerr << "daltoven-unitsim: " << error.Message() << '\n';
        return KExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "daltoven-unitsim: " << error.what() << '\n';
        return KExitFailed;
    }

    // Block the signals before the serving thread starts, so that it inherits the mask and
    // only the main thread takes them, through sigtimedwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    SimConfig& config = options.Config;
    config.KeepTrace = false; // a long session would only grow it
    if (!options.Quiet)
        config.OnTrace = [](const std::string& line) { std::cerr << line << '\n'; };
    try {
        SimulatedUnit unit(config);
        std::cout << unit.SlavePath() << std::endl;
        unit.Start();
        const int code = Serve(unit, options.Once, signals);
        unit.Stop();
        return code;
    } catch (const std::exception& error) {
        std::cerr << "daltoven-unitsim: " << error.what() << '\n';
        return KExitFailed;
    }
}
