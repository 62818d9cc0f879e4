// daltoven-unitsim as a process: its first line, --once, --link, --flash-out and the signals.
#include "tests/sim/host.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

class UnitSimProcess {
public:
    explicit UnitSimProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), DV_UNITSIM_PATH);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int failed =
            posix_spawn(&FPid, DV_UNITSIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FOut = out[0];
        if (failed != 0)
            throw std::runtime_error("cannot start " DV_UNITSIM_PATH);
    }

    ~UnitSimProcess() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        close(FOut);
    }

    // The first line on its standard output, within the time.
    std::string FirstLine(std::chrono::milliseconds timeout = 5000ms) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char c = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{FOut, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            if (read(FOut, &c, 1) != 1 || c == '\n')
                break;
            line += c;
        }
        return line;
    }

    // Its exit code, or -1 when it did not exit normally within the time.
    int Wait(std::chrono::milliseconds timeout = 5000ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    void Signal(int signal) { kill(FPid, signal); }

private:
    pid_t FPid = -1;
    int FOut = -1;
};

fs::path TempPath(const std::string& name) {
    return fs::temp_directory_path() / ("dv_unitsim_" + std::to_string(getpid()) + "_" + name);
}

TEST(UnitSimProgram, OnceEndsWithTheRunAndLeavesTheFlashFile) {
    const fs::path link = TempPath("ttyOnce");
    const fs::path flash = TempPath("flash.bin");
    UnitSimProcess process({"--once", "--quiet", "--link", link.string(), "--flash-out",
                            flash.string(), "--length", "0x400"});
    const std::string slave = process.FirstLine();
    ASSERT_TRUE(slave.starts_with("/dev/pts/")) << slave;
    EXPECT_EQ(fs::read_symlink(link), slave);

    ScriptedHost host(link.string(), HostLine{});
    ASSERT_TRUE(ConnectAtDefaults(host));
    ASSERT_EQ(RequestErase(host, 0x2000, 0x400), "$");
    const std::string image = MakeImage(256);
    ASSERT_EQ(RunTransfer(host, Wire::Program, 0x2000, image).Final, "\x22");
    host.Send(Wire::Run);

    EXPECT_EQ(process.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    std::ifstream file(flash, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(written, image + std::string(0x400 - 256, '\xFF'));
    fs::remove(flash);
}

TEST(UnitSimProgram, SignalsEndItCleanly) {
    struct Case {
        int Signal;
        bool Once;
        int ExitCode; // with --once, a session that ends without a run is a failure
    };
    for (const Case c : {Case{SIGTERM, false, 0}, Case{SIGINT, false, 0}, Case{SIGTERM, true, 1}}) {
        const fs::path link = TempPath("ttySignal");
        std::vector<std::string> args{"--quiet", "--link", link.string()};
        if (c.Once)
            args.push_back("--once");
        UnitSimProcess process(args);
        ASSERT_FALSE(process.FirstLine().empty());
        ASSERT_TRUE(fs::is_symlink(link));
        process.Signal(c.Signal);
        EXPECT_EQ(process.Wait(), c.ExitCode) << "signal " << c.Signal;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "signal " << c.Signal;
    }
}

TEST(UnitSimProgram, RefusesBadOptionsBeforeOpeningAnything) {
    const std::vector<std::vector<std::string>> cases = {
        {"--fault=bogus"}, {"--seed"}, {"--fault", "bogus"}, {"--seed", "65536"}};
    for (const auto& args : cases) {
        UnitSimProcess process(args);
        EXPECT_EQ(process.FirstLine(), "") << args[0];
        EXPECT_EQ(process.Wait(), 2) << args[0];
    }
}

} // namespace
