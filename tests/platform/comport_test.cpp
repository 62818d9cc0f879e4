// The serial port component on real pseudo-terminals: the test plays the far end on the master.

#include "platform/comport.h"
#include "platform/exceptions.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono;

namespace {

std::string Bytes(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

long long MsSince(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// A port on the test's pty with a read time limit of readMs.
void Prepare(TComPort& port, const TestPty& pty, std::int32_t readMs = 300) {
    port.SetPort(pty.SlavePath());
    TComTimeouts timeouts = port.Timeouts();
    timeouts.ReadInterval = 0;
    timeouts.ReadTotalConstant = readMs;
    port.SetTimeouts(timeouts);
}

} // namespace

TEST(ComPortSettings, NewComponentHoldsItsOwnDefaults) {
    const TComPort port;
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity(), TComParity{});
    EXPECT_EQ(port.Parity().Bits, prNone);
    EXPECT_EQ(port.FlowControl().ControlDTR, dtrDisable);
    EXPECT_EQ(port.FlowControl().ControlRTS, rtsDisable);
    EXPECT_EQ(port.FlowControl().XonChar, 0x11);
    EXPECT_EQ(port.FlowControl().XoffChar, 0x13);
    EXPECT_EQ(port.Timeouts().ReadInterval, -1);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant, 0);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier, 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant, 1000);
    EXPECT_EQ(port.Buffer().InputSize, 1024);
    EXPECT_EQ(port.Buffer().OutputSize, 1024);
    EXPECT_FALSE(port.Connected());
}

TEST(ComPortSettings, BaudRateTableGivesBitsPerSecondByStoredIndex) {
    const int expected[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                            14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int index = 0; index < 16; ++index)
        EXPECT_EQ(BaudRateBitsPerSecond(static_cast<TBaudRate>(index)), expected[index]) << index;
    EXPECT_EQ(BaudRateBitsPerSecond(static_cast<TBaudRate>(16)), 0);
    EXPECT_EQ(BaudRateBitsPerSecond(static_cast<TBaudRate>(255)), 0);
}

TEST(ComPortSettings, FlowControlNoneClearsTheHandshakesAndKeepsDtr) {
    TComFlowControl flow;
    flow.OutCTSFlow = true;
    flow.XonXoffIn = true;
    flow.XonXoffOut = true;
    flow.ControlRTS = rtsHandshake;
    flow.ControlDTR = dtrEnable;
    flow.SetFlowControl(fcNone);
    EXPECT_FALSE(flow.OutCTSFlow);
    EXPECT_FALSE(flow.XonXoffIn);
    EXPECT_FALSE(flow.XonXoffOut);
    EXPECT_EQ(flow.ControlRTS, rtsDisable);
    EXPECT_EQ(flow.ControlDTR, dtrEnable);
}

TEST(ComPortOpen, MissingPortFailsWithTheOpenErrorAndStaysClosed) {
    TComPort port;
    port.SetPort("/dev/ttyDaltovenDoesNotExist");
    try {
        port.Open();
        FAIL() << "opened a port that does not exist";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "Unable to open com port (win error code: 2)");
        EXPECT_EQ(e.ErrorCode(), ENOENT);
    }
    EXPECT_FALSE(port.Connected());
}

TEST(ComPortOpen, SecondOpenOfAnOpenPortFailsEvenForRoot) {
    TestPty pty;
    TComPort first;
    first.SetPort(pty.SlavePath());
    first.SetConnected(true);
    ASSERT_TRUE(first.Connected());

    TComPort second;
    second.SetPort(pty.SlavePath());
    try {
        second.Open();
        FAIL() << "a second open of an open port succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message().rfind("Unable to open com port (win error code: ", 0), 0)
            << e.Message();
    }
    EXPECT_FALSE(second.Connected());

    // The refused opener must not have disturbed the first one, and the port is free again
    // once the first one closes.
    EXPECT_TRUE(first.Connected());
    first.Write("x", 1);
    EXPECT_EQ(pty.Receive(1, 1s), "x");
    first.SetConnected(false);
    EXPECT_NO_THROW(second.Open());
}

// A pty keeps TIOCEXCL after its last close, and only root may open a tty in exclusive mode.
// Run as an unprivileged user so that a close which leaves the mode behind shows.
TEST(ComPortOpen, NonRootCanOpenCloseAndOpenAgain) {
    TestPty pty;
    uid_t uid = 65534;
    gid_t gid = 65534;
    if (const passwd* nobody = ::getpwnam("nobody")) {
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(pty.SlavePath().c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
    }

    // Exit codes: 0 fine, 2 could not drop root, 3 first open, 4 second open.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(2);
        TComPort port;
        port.SetPort(pty.SlavePath());
        try {
            port.Open();
        } catch (const EComPort&) {
            ::_exit(3);
        }
        port.Close();
        try {
            port.Open();
        } catch (const EComPort&) {
            ::_exit(4);
        }
        port.Close();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2 = setuid failed, 3 = first open, 4 = reopen";
}

TEST(ComPortOpen, SettingsItCannotDoAreRefusedWhenThePortOpens) {
    struct Case {
        const char* name;
        void (*apply)(TComPort&);
    };
    const Case cases[] = {
        {"1.5 stop bits", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); }},
        {"stop bits index 3", [](TComPort& p) { p.SetStopBits(static_cast<TStopBits>(3)); }},
        {"baud rate index 16", [](TComPort& p) { p.SetBaudRate(static_cast<TBaudRate>(16)); }},
        {"data bits index 4", [](TComPort& p) { p.SetDataBits(static_cast<TDataBits>(4)); }},
        {"parity index 5",
         [](TComPort& p) {
             p.SetParity({static_cast<TParityBits>(5), false, false, 0});
         }},
        {"custom speed 0",
         [](TComPort& p) {
             p.SetBaudRate(brCustom);
             p.SetCustomBaudRate(0);
         }},
        {"DTR control index 3",
         [](TComPort& p) {
             TComFlowControl flow = p.FlowControl();
             flow.ControlDTR = static_cast<TDTRFlowControl>(3);
             p.SetFlowControl(flow);
         }},
    };
    TestPty pty;
    for (const Case& c : cases) {
        TComPort port;
        port.SetPort(pty.SlavePath());
        c.apply(port);
        try {
            port.Open();
            ADD_FAILURE() << c.name << ": opened";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Message(), "SetCommState function failed (win error code: 22)") << c.name;
        }
        EXPECT_FALSE(port.Connected()) << c.name;
        // Nothing stays open or locked behind a refused open.
        TComPort next;
        next.SetPort(pty.SlavePath());
        EXPECT_NO_THROW(next.Open()) << c.name;
    }
}

TEST(ComPortOpen, AcceptsEverySettingThePortCanDo) {
    TestPty pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    port.SetParity({prMark, false, false, 0});
    TComFlowControl flow = port.FlowControl();
    flow.ControlDTR = dtrEnable; // a pty has no modem lines: not an error
    port.SetFlowControl(flow);
    ASSERT_NO_THROW(port.Open());
    for (TParityBits parity : {prNone, prOdd, prEven, prSpace})
        EXPECT_NO_THROW(port.SetParity({parity, false, false, 0})) << int(parity);
    EXPECT_NO_THROW(port.SetBaudRate(br256000));
    EXPECT_TRUE(port.Connected());
}

namespace {
// The speed the driver holds, read through a second descriptor (root ignores TIOCEXCL).
speed_t DriverSpeed(const TestPty& pty) {
    const int fd = ::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios2 tio{};
    const bool read = fd >= 0 && ::ioctl(fd, TCGETS2, &tio) == 0;
    if (fd >= 0)
        ::close(fd);
    return read ? tio.c_ospeed : 0;
}
} // namespace

TEST(ComPortOpen, LineSpeedReachesTheDriverAtOpenAndWhenChanged) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "reading the speed beside the open port needs root";
    TestPty pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.Open();
    EXPECT_EQ(DriverSpeed(pty), 250000u);
    struct Case {
        TBaudRate rate;
        speed_t bitsPerSecond;
    };
    for (const Case c : {Case{br57600, 57600}, Case{br14400, 14400}, Case{br9600, 9600}}) {
        port.SetBaudRate(c.rate);
        EXPECT_EQ(DriverSpeed(pty), c.bitsPerSecond) << int(c.rate);
    }
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(DriverSpeed(pty), 31250u);
}

TEST(ComPortOpen, RefusedChangeOnAnOpenPortKeepsItOpen) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty);
    port.Open();
    EXPECT_THROW(port.SetStopBits(sbOne5StopBits), EComPort);
    EXPECT_TRUE(port.Connected());
    port.Write("k", 1);
    EXPECT_EQ(pty.Receive(1, 1s), "k");
}

TEST(ComPortOpen, RenamingAnOpenPortMovesItToTheNewName) {
    TestPty first;
    TestPty second;
    TComPort port;
    Prepare(port, first);
    port.Open();
    port.SetPort(second.SlavePath());
    ASSERT_TRUE(port.Connected());
    port.Write("n", 1);
    EXPECT_EQ(second.Receive(1, 1s), "n");
    EXPECT_EQ(first.Drain(), "");
    TComPort other;
    other.SetPort(first.SlavePath());
    EXPECT_NO_THROW(other.Open()) << "the old port was not released";
}

TEST(ComPortClose, ByteWrittenJustBeforeCloseReachesThePeer) {
    TestPty pty;
    {
        TComPort port;
        Prepare(port, pty);
        port.Open();
        ASSERT_EQ(port.Write("\x5A", 1), 1);
        port.Close();
        EXPECT_FALSE(port.Connected());
        EXPECT_NO_THROW(port.Close()); // closing a closed port does nothing
    }
    EXPECT_EQ(pty.Receive(1, 1s), "\x5A");
}

TEST(ComPortClose, DestructorReleasesThePort) {
    TestPty pty;
    {
        TComPort port;
        Prepare(port, pty);
        port.Open();
    }
    TComPort again;
    again.SetPort(pty.SlavePath());
    EXPECT_NO_THROW(again.Open());
}

TEST(ComPortIo, OperationsOnAClosedPortFailWithTheirOwnError) {
    TComPort port;
    char byte = 0;
    struct Case {
        const char* text;
        void (*run)(TComPort&, char&);
    };
    const Case cases[] = {
        {ComPortError::PurgeComm, [](TComPort& p, char&) { p.ClearInput(); }},
        {ComPortError::WriteFile, [](TComPort& p, char& b) { p.Write(&b, 1); }},
        {ComPortError::ReadFile, [](TComPort& p, char& b) { p.Read(&b, 1); }},
    };
    for (const Case& c : cases) {
        try {
            c.run(port, byte);
            ADD_FAILURE() << c.text << ": no error";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Message(), std::string(c.text) + " (win error code: 9)");
        }
    }
}

TEST(ComPortIo, ReadReturnsTheMomentItsCountIsIn) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty, 5000);
    port.Open();
    std::thread peer([&] {
        std::this_thread::sleep_for(50ms);
        pty.Send("AB");
        std::this_thread::sleep_for(50ms);
        pty.Send("CD");
    });
    char reply[4] = {};
    const auto start = steady_clock::now();
    const std::int32_t got = port.Read(reply, 4);
    const auto took = MsSince(start);
    peer.join();
    EXPECT_EQ(got, 4);
    EXPECT_EQ(std::string(reply, 4), "ABCD");
    EXPECT_LT(took, 2000) << "the read waited for its time limit";
}

TEST(ComPortIo, ReadEndsAtItsTimeLimitWithWhatCame) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty, 300);
    port.Open();
    pty.Send("xyz");
    char reply[8] = {};
    const auto start = steady_clock::now();
    const std::int32_t got = port.Read(reply, 8);
    const auto took = MsSince(start);
    EXPECT_EQ(got, 3);
    EXPECT_EQ(std::string(reply, 3), "xyz");
    EXPECT_GE(took, 295);
    EXPECT_LT(took, 3000);

    const auto zeroStart = steady_clock::now();
    EXPECT_EQ(port.Read(reply, 0), 0);
    EXPECT_LT(MsSince(zeroStart), 100);
}

TEST(ComPortIo, TimeLimitChangedOnAnOpenPortAppliesToTheNextRead) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty, 2000);
    port.Open();
    TComTimeouts timeouts = port.Timeouts();
    timeouts.ReadTotalConstant = 100;
    port.SetTimeouts(timeouts);
    char byte = 0;
    const auto start = steady_clock::now();
    EXPECT_EQ(port.Read(&byte, 1), 0);
    const auto took = MsSince(start);
    EXPECT_GE(took, 95);
    EXPECT_LT(took, 1500);
}

TEST(ComPortIo, ReadFromAPortWhoseFarEndWentAwayFailsInsteadOfWaiting) {
    auto pty = std::make_unique<TestPty>();
    TComPort port;
    Prepare(port, *pty, 3000);
    port.Open();
    pty.reset();
    char byte = 0;
    const auto start = steady_clock::now();
    try {
        port.Read(&byte, 1);
        ADD_FAILURE() << "read from a hung-up port succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message().rfind("ReadFile function failed", 0), 0) << e.Message();
    }
    EXPECT_LT(MsSince(start), 2000);
}

TEST(ComPortIo, ClearInputDropsWhatWasReceivedOnly) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty, 200);
    port.Open();
    pty.Send("stale");
    port.ClearInput();
    char reply[5] = {};
    EXPECT_EQ(port.Read(reply, 5), 0);
    pty.Send("fresh");
    EXPECT_EQ(port.Read(reply, 5), 5);
    EXPECT_EQ(std::string(reply, 5), "fresh");
}

// More than the pty can hold at once: the port takes it in several parts.
TEST(ComPortIo, LargeWriteArrivesCompleteAndInOrder) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty);
    port.Open();
    const std::string sent = Bytes(256 * 1024);
    std::string received;
    std::thread peer([&] { received = pty.Receive(sent.size(), 20s); });
    const std::int32_t taken = port.Write(sent.data(), static_cast<std::int32_t>(sent.size()));
    peer.join();
    EXPECT_EQ(taken, static_cast<std::int32_t>(sent.size()));
    EXPECT_TRUE(received == sent) << "received " << received.size() << " bytes";
}

TEST(ComPortIo, WriteThatCannotFinishReturnsWhatWasTakenAtItsTimeLimit) {
    TestPty pty;
    TComPort port;
    Prepare(port, pty);
    TComTimeouts timeouts = port.Timeouts();
    timeouts.WriteTotalConstant = 200;
    timeouts.WriteTotalMultiplier = 0;
    port.SetTimeouts(timeouts);
    port.Open();
    const std::string sent = Bytes(4 * 1024 * 1024);
    const auto start = steady_clock::now();
    const std::int32_t taken = port.Write(sent.data(), static_cast<std::int32_t>(sent.size()));
    const auto took = MsSince(start);
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, static_cast<std::int32_t>(sent.size()));
    EXPECT_GE(took, 195);
    EXPECT_LT(took, 3000);
    EXPECT_EQ(pty.Receive(static_cast<std::size_t>(taken), 5s),
              sent.substr(0, static_cast<std::size_t>(taken)));
}
