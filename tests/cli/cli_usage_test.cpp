// The command line: usage errors, help and the port list.
#include "tests/cli/cli_process.h"

#include "platform/comport.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct TUsageCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Complaint;
};

// Named by the case, not dumped as bytes.
void PrintTo(const TUsageCase& c, std::ostream* os) {
    *os << c.Name;
}

class CliUsage : public testing::TestWithParam<TUsageCase> {};

} // namespace

TEST_P(CliUsage, AWrongCommandLineExitsWithTwoAndSaysWhy) {
    const TUsageCase& usage = GetParam();
    const TProcessResult result = RunCli(usage.Args);

    EXPECT_EQ(result.ExitCode, 2) << result.Err;
    EXPECT_EQ(result.Out, "");
    EXPECT_NE(result.Err.find(usage.Complaint), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("--help"), std::string::npos) << result.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliUsage,
    testing::Values(
        TUsageCase{"Nothing", {}, "--port is required"},
        TUsageCase{"NoPort", {"--boot"}, "--port is required"},
        TUsageCase{"PortWithoutValue", {"--port"}, "--port needs a value"},
        TUsageCase{
            "ReleaseWithoutValue", {"--port", "/dev/null", "--release"}, "--release needs a value"},
        TUsageCase{"BootAndNoBoot",
                   {"--port", "/dev/null", "--boot", "--no-boot"},
                   "--boot and --no-boot exclude each other"},
        TUsageCase{
            "UnknownOption", {"--port", "/dev/null", "--fast"}, "unknown argument \"--fast\""},
        TUsageCase{"StrayArgument", {"--port", "/dev/null", "extra"}, "unknown argument \"extra\""},
        TUsageCase{"ListPortsWithMore",
                   {"--list-ports", "--port", "/dev/null"},
                   "--list-ports takes no other options"}),
    [](const testing::TestParamInfo<TUsageCase>& info) { return info.param.Name; });

TEST(CliCommands, HelpShowsTheUsage) {
    // Help wins over anything else on the line.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"},
          std::vector<std::string>{"--boot", "--no-boot", "-h"}}) {
        const TProcessResult result = RunCli(args);
        EXPECT_EQ(result.ExitCode, 0);
        EXPECT_EQ(result.Out.rfind("Usage: daltoven-flash-cli --port PORT", 0), 0u) << result.Out;
    }
}

TEST(CliCommands, ListPortsPrintsThePortListOneALine) {
    // A port that shows in the list: a /dev/tty* link to a pseudo-terminal.
    if (::access("/dev", W_OK) != 0)
        GTEST_SKIP() << "cannot make a port link in /dev";
    const std::string link = "/dev/ttyDvCliTest" + std::to_string(::getpid());
    TUnitProcess unit({"--link", link});

    std::string expected;
    for (const std::string& name : EnumComPorts())
        expected += name + "\n";
    const TProcessResult result = RunCli({"--list-ports"});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, expected);
    EXPECT_NE(result.Out.find(link + "\n"), std::string::npos) << result.Out;
}
