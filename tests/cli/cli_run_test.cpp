// Whole runs of daltoven-flash-cli against daltoven-unitsim, each in its own process.
#include "tests/cli/cli_process.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

constexpr std::size_t SampleFlashLength = 0x3E000;
const std::string Programmed = "Unit Successfully Programmed!\n";

std::vector<std::string> ProgramArgs(const TUnitProcess& unit,
                                     const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--port", unit.Port(), "--release", SamplePackagePath()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs the program and sends it SIGINT as soon as its standard error shows the text.
struct TInterruptedRun {
    bool Shown = false;
    TProcessResult Result; // Err holds everything, from before the signal too
    std::chrono::steady_clock::duration AfterSignal{};
};

TInterruptedRun InterruptOnceShown(const std::vector<std::string>& args, const std::string& text) {
    TInterruptedRun run;
    const auto cli = StartProcess(CliPath(), args);
    std::string err;
    run.Shown = WaitForError(*cli, err, text, 30s);
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(static_cast<pid_t>(cli->processId()), SIGINT);
    run.Result = Finish(*cli, 30s);
    run.AfterSignal = std::chrono::steady_clock::now() - signalled;
    run.Result.Err = err + run.Result.Err;
    return run;
}

} // namespace

TEST(CliRun, ProgramsTheUnitAndReportsEachStepOnStandardError) {
    TUnitProcess unit;
    const TProcessResult result = RunCli(ProgramArgs(unit));

    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, Programmed);
    // Not a terminal: one line per step, and one per tenth of its progress.
    for (const char* step : {"Programming FLASH...", "Verifying FLASH..."})
        for (int tenth = 1; tenth <= 10; ++tenth) {
            const std::string line = std::string(step) + " " + std::to_string(tenth * 10) + "%\n";
            EXPECT_TRUE(Contains(result.Err, line)) << line << "missing in:\n" << result.Err;
        }
    EXPECT_TRUE(Contains(result.Err, "Erasing FLASH...\n"));
    EXPECT_FALSE(Contains(result.Err, "\r"));
    ExpectPortReleased(unit.Port());
    EXPECT_EQ(unit.StopAndReadFlash(),
              FlashWithImage(PackageImage(SamplePackagePath()), SampleFlashLength));
}

TEST(CliRun, ProgramsFromItsOwnPackageOnceStamped) {
    // Without --release the program's own block is the package, so a stamped copy is a
    // console release program.
    TTempDir dir;
    const std::string release = dir.File("release-cli");
    const TProcessResult stamp = Finish(
        *StartProcess(DV_PACK_PATH, {"stamp", CliPath(), SamplePackagePath(), "-o", release}), 60s);
    ASSERT_EQ(stamp.ExitCode, 0) << stamp.Err;

    TUnitProcess unit;
    const TProcessResult result = Finish(*StartProcess(release, {"--port", unit.Port()}), 60s);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, Programmed);
    EXPECT_EQ(unit.StopAndReadFlash(),
              FlashWithImage(PackageImage(SamplePackagePath()), SampleFlashLength));
}

struct TFaultCase {
    const char* Name;
    std::vector<std::string> UnitOptions;
    std::vector<std::string> CliOptions;
    std::string Outcome;
};

// Named by the case, not dumped as bytes.
void PrintTo(const TFaultCase& c, std::ostream* os) {
    *os << c.Name;
}

class CliRunFault : public testing::TestWithParam<TFaultCase> {};

TEST_P(CliRunFault, ReportsTheFailureWithItsFullStopAndFails) {
    const TFaultCase& fault = GetParam();
    TUnitProcess unit(fault.UnitOptions);
    const TProcessResult result = RunCli(ProgramArgs(unit, fault.CliOptions));

    EXPECT_EQ(result.ExitCode, 1) << result.Err;
    EXPECT_EQ(result.Out, fault.Outcome + "\n") << result.Err;
    ExpectPortReleased(unit.Port());
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRunFault,
    testing::Values(
        TFaultCase{
            "EraseDeviceFailure", {"--fault", "erase-fail"}, {}, "Erase Failed: Device Failure."},
        TFaultCase{"ThirdBlockRefused",
                   {"--fault", "block-fail@3"},
                   {},
                   "Write Failed at address 0x00000100 (256)."},
        TFaultCase{"UnexpectedBlockReply",
                   {"--fault", "block-unexpected@2"},
                   {},
                   "Write Failed: Unexpected Response."},
        // The second final reply is the verify's; it reports the last block.
        TFaultCase{"VerifyFinalRefused",
                   {"--fault", "final-fail@2"},
                   {},
                   "Verify Failed at address 0x00000F80 (3968)."},
        // Both methods meet the same fault: the boot method's failure is the one reported.
        TFaultCase{"EchoWrongByBothMethods",
                   {"--fault", "bad-ack", "--reset-after", "2"},
                   {"--boot"},
                   "Acknowledge data doesn't match."}),
    [](const testing::TestParamInfo<TFaultCase>& info) { return info.param.Name; });

TEST(CliRun, FallsBackToTheBootMethodWithBoot) {
    TUnitProcess unit({"--no-user-method", "--reset-after", "3"});
    const TProcessResult result = RunCli(ProgramArgs(unit, {"--boot"}));

    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, Programmed);
    EXPECT_TRUE(Contains(result.Err, "User Connect Method Failed (No reply to start command). Try "
                                     "Boot Method?"))
        << result.Err;
    EXPECT_TRUE(Contains(result.Err, "\nReset the Unit\n")) << result.Err;
    ExpectPortReleased(unit.Port());
    EXPECT_EQ(unit.StopAndReadFlash(),
              FlashWithImage(PackageImage(SamplePackagePath()), SampleFlashLength));
}

TEST(CliRun, EndsAfterAFailedUserMethodWithoutBoot) {
    // --no-boot, and no choice with standard input that is not a terminal, both stop.
    for (const std::vector<std::string>& choice :
         {std::vector<std::string>{"--no-boot"}, std::vector<std::string>{}}) {
        TUnitProcess unit({"--no-user-method", "--reset-after", "1"});
        const TProcessResult result = RunCli(ProgramArgs(unit, choice));

        EXPECT_EQ(result.ExitCode, 1) << result.Err;
        EXPECT_EQ(result.Out, "Connect Cancelled by User.\n");
        EXPECT_TRUE(
            Contains(result.Err, "User Connect Method Failed (No reply to start command)."));
        EXPECT_FALSE(Contains(result.Err, "Reset the Unit"));
        ExpectPortReleased(unit.Port());
        const std::string log = unit.Log();
        EXPECT_FALSE(Contains(log, "boot")) << "a boot connect string was sent:\n" << log;
    }
}

TEST(CliRun, CtrlCDuringATransferAbortsItAndTellsTheLoader) {
    // At the wire's own pace the transfer lasts long enough to be interrupted in its middle.
    TUnitProcess unit({"--wire-timing"});
    const TInterruptedRun run = InterruptOnceShown(ProgramArgs(unit), "Programming FLASH...\n");
    ASSERT_TRUE(run.Shown) << run.Result.Err;
    const TProcessResult& result = run.Result;

    EXPECT_EQ(result.ExitCode, 130) << result.Err;
    EXPECT_EQ(result.Out, "Programming Aborted by User.\n");
    EXPECT_FALSE(Contains(result.Err, "Verifying FLASH...")) << result.Err;
    ExpectPortReleased(unit.Port());
    const std::string log = unit.Log();
    EXPECT_TRUE(Contains(log, "aborted by the host")) << log;
}

TEST(CliRun, CtrlCDuringTheBootAttemptsCancelsTheConnect) {
    // A unit that is never reset: only the cancel ends the attempts early.
    TUnitProcess unit({"--no-user-method"});
    const TInterruptedRun run =
        InterruptOnceShown(ProgramArgs(unit, {"--boot"}), "Reset the Unit\n");
    ASSERT_TRUE(run.Shown) << run.Result.Err;
    const TProcessResult& result = run.Result;

    EXPECT_EQ(result.ExitCode, 130) << result.Err;
    EXPECT_EQ(result.Out, "Connect Cancelled by User.\n");
    // The 100 attempts would take ten seconds.
    EXPECT_LT(run.AfterSignal, 5s);
    ExpectPortReleased(unit.Port());
}

TEST(CliRun, CtrlCAtAnyOtherPointEndsTheRunAtItsNextStep) {
    // Interrupted while the user method waits for its reply: no question and no boot method
    // follow, although --boot would go on.
    TUnitProcess unit({"--no-user-method", "--reset-after", "1"});
    const TInterruptedRun run =
        InterruptOnceShown(ProgramArgs(unit, {"--boot"}), "Connecting...\n");
    ASSERT_TRUE(run.Shown) << run.Result.Err;
    const TProcessResult& result = run.Result;

    EXPECT_EQ(result.ExitCode, 130) << result.Err;
    EXPECT_EQ(result.Out, "Connect Cancelled by User.\n");
    EXPECT_FALSE(Contains(result.Err, "Try Boot Method?")) << result.Err;
    ExpectPortReleased(unit.Port());
}

TEST(CliRun, AsksOnTheTerminalWithoutAChoice) {
    struct TAnswer {
        std::string Typed; // empty: Ctrl-C instead of an answer
        int ExitCode;
        std::string Outcome;
    };
    for (const TAnswer& answer :
         {TAnswer{"y\n", 0, Programmed}, TAnswer{"n\n", 1, "Connect Cancelled by User.\n"},
          TAnswer{"\n", 1, "Connect Cancelled by User.\n"},
          TAnswer{"", 130, "Connect Cancelled by User.\n"}}) {
        TUnitProcess unit({"--no-user-method", "--reset-after", "2"});
        TestPty terminal;
        const std::string slave = terminal.SlavePath();
        const auto cli = StartProcess(CliPath(), ProgramArgs(unit), [&slave] {
            const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
            ::dup2(fd, STDIN_FILENO);
        });
        std::string err;
        ASSERT_TRUE(WaitForError(*cli, err, "Try Boot Method? [y/N] ", 30s)) << err;
        if (answer.Typed.empty())
            ::kill(static_cast<pid_t>(cli->processId()), SIGINT);
        else
            terminal.Send(answer.Typed);
        const TProcessResult result = Finish(*cli, 30s);

        EXPECT_EQ(result.ExitCode, answer.ExitCode) << err << result.Err;
        EXPECT_EQ(result.Out, answer.Outcome);
        ExpectPortReleased(unit.Port());
    }
}
