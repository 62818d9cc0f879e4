// The program's serial port on real pseudo-terminals. Transact blocks its thread, so the far
// end answers from a thread of its own.

#include "serial/comms.h"

#include "platform/exceptions.h"
#include "tests/support/pty.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono;

namespace {

long long MsSince(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// Waits for one request of requestBytes on the pty, then sends reply.
class Peer {
public:
    Peer(TestPty& pty, std::size_t requestBytes, std::string reply)
        : FThread([this, &pty, requestBytes, reply = std::move(reply)] {
              FRequest = pty.Receive(requestBytes, 5s);
              pty.Send(reply);
          }) {}
    ~Peer() { Join(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const std::string& Request() {
        Join();
        return FRequest;
    }

private:
    void Join() {
        if (FThread.joinable())
            FThread.join();
    }

    std::string FRequest;
    std::thread FThread;
};

std::string Pattern(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(255 - i % 256);
    return bytes;
}

std::int32_t Size(const std::string& s) {
    return static_cast<std::int32_t>(s.size());
}

class HalcotPort : public ::testing::Test {
protected:
    void SetUp() override {
        Port.SetPort(Pty.SlavePath());
        Port.SetConnected(true);
    }

    // Transact with a string request; the reply is what the read placed in the buffer.
    std::string Exchange(const std::string& request, std::int32_t replyCount) {
        std::string reply(static_cast<std::size_t>(replyCount), '\0');
        Port.Transact(request.data(), Size(request), reply.data(), replyCount);
        return reply;
    }

    TestPty Pty;
    THalcotComPort Port;
};

} // namespace

TEST(HalcotPortSettings, NewPortHoldsTheProgramsDefaults) {
    const THalcotComPort port;
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity(), TComParity{});
    EXPECT_EQ(port.FlowControl(), TComFlowControl{});
    EXPECT_EQ(port.FlowControl().ControlDTR, dtrDisable);
    EXPECT_EQ(port.FlowControl().ControlRTS, rtsDisable);
    EXPECT_FALSE(port.FlowControl().OutCTSFlow || port.FlowControl().OutDSRFlow ||
                 port.FlowControl().XonXoffIn || port.FlowControl().XonXoffOut ||
                 port.FlowControl().DSRSensitivity || port.FlowControl().TxContinueOnXoff);
    const TComTimeouts& t = port.Timeouts();
    EXPECT_EQ(t.ReadInterval, 0);
    EXPECT_EQ(t.ReadTotalMultiplier, 0);
    EXPECT_EQ(t.ReadTotalConstant, 1000);
    EXPECT_EQ(t.WriteTotalMultiplier, 100);
    EXPECT_EQ(t.WriteTotalConstant, 1000);
    EXPECT_EQ(port.Buffer().InputSize, 4096);
    EXPECT_EQ(port.Buffer().OutputSize, 1024);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.BaudValue(), 9600);
}

TEST(HalcotPortSettings, BaudValueFollowsTheRateOrTheCustomSpeed) {
    struct Case {
        TBaudRate rate;
        std::int32_t custom;
        std::int32_t bitsPerSecond;
    };
    const Case cases[] = {
        {br9600, 31250, 9600},    {br57600, 9600, 57600}, {br110, 9600, 110},
        {br256000, 9600, 256000}, {brCustom, 9600, 9600}, {brCustom, 31250, 31250},
    };
    for (const Case& c : cases) {
        THalcotComPort port;
        port.SetBaudRate(c.rate);
        port.SetCustomBaudRate(c.custom);
        EXPECT_EQ(port.BaudValue(), c.bitsPerSecond) << int(c.rate) << " " << c.custom;
    }

    THalcotComPort source;
    source.SetBaudRate(brCustom);
    source.SetCustomBaudRate(31250);
    THalcotComPort copy;
    copy.CopySettings(source);
    EXPECT_EQ(copy.BaudValue(), 31250);
}

TEST_F(HalcotPort, FullReplyReturnsAtOnceLongBeforeTheTimeLimit) {
    Port.SetTimeout(5000);
    const std::string request = "\x01\x02\x03\x04";
    const std::string answer = Pattern(128);
    Peer peer(Pty, request.size(), answer);
    const auto start = steady_clock::now();
    const std::string reply = Exchange(request, Size(answer));
    const auto took = MsSince(start);
    EXPECT_EQ(peer.Request(), request);
    EXPECT_EQ(reply, answer);
    EXPECT_LT(took, 1000);
}

TEST_F(HalcotPort, ShortOrMissingReplyTimesOutAfterTheTimeLimit) {
    struct Case {
        const char* name;
        std::string answer;
    };
    const Case cases[] = {{"short", "AB"}, {"missing", ""}};
    Port.SetTimeout(300);
    for (const Case& c : cases) {
        Peer peer(Pty, 1, c.answer);
        char reply[5] = {};
        const auto start = steady_clock::now();
        EXPECT_THROW(
            {
                try {
                    Port.Transact("?", 1, reply, 5);
                } catch (const EHalcotComTimeout& e) {
                    EXPECT_EQ(e.Message(), "No Reply Within Time Out Period");
                    throw;
                }
            },
            EHalcotComTimeout)
            << c.name;
        const auto took = MsSince(start);
        EXPECT_GE(took, 295) << c.name;
        EXPECT_LT(took, 3000) << c.name;
        EXPECT_EQ(std::string(reply, c.answer.size()), c.answer) << c.name;
        // A failed exchange changes nothing: the port stays open under the same limit.
        EXPECT_TRUE(Port.Connected()) << c.name;
        EXPECT_EQ(Port.Timeouts().ReadTotalConstant, 300) << c.name;
    }
}

TEST_F(HalcotPort, InputThatArrivedBeforeTheSendNeverShowsUpInItsReply) {
    Pty.Send("STALE");
    Peer peer(Pty, 2, "FRESH");
    EXPECT_EQ(Exchange("go", 5), "FRESH");
}

TEST_F(HalcotPort, ExtraReplyBytesAreGoneAfterTheNextSend) {
    {
        Peer peer(Pty, 1, "ABCDEXYZ");
        EXPECT_EQ(Exchange("1", 5), "ABCDE");
    }
    Peer peer(Pty, 1, "12345");
    EXPECT_EQ(Exchange("2", 5), "12345");
}

TEST_F(HalcotPort, ZeroReplyCountSendsAndReturnsAtOnce) {
    Port.SetTimeout(5000);
    const auto start = steady_clock::now();
    EXPECT_EQ(Port.Transact("run!", 4, nullptr, 0), 0);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(Pty.Receive(4, 1s), "run!");
}

TEST_F(HalcotPort, SendBufferOfNothingOnlyDiscardsInput) {
    Port.SetTimeout(100);
    Pty.Send("old");
    Port.SendBuffer(nullptr, 0);
    char byte = 0;
    EXPECT_EQ(Port.Read(&byte, 1), 0);
    EXPECT_EQ(Pty.Drain(), "");
}

// Far more than the pty holds: the port takes the block in several writes.
TEST_F(HalcotPort, LargeSendArrivesCompleteAndInOrder) {
    const std::string block = Pattern(300 * 1024);
    std::string received;
    std::thread peer([&] { received = Pty.Receive(block.size(), 20s); });
    Port.SendBuffer(block.data(), Size(block));
    peer.join();
    EXPECT_TRUE(received == block) << "received " << received.size() << " of " << block.size();
}

TEST_F(HalcotPort, SendToAPortThatTakesNothingFailsInsteadOfLoopingForever) {
    TComTimeouts timeouts = Port.Timeouts();
    timeouts.WriteTotalConstant = 100;
    timeouts.WriteTotalMultiplier = 0;
    Port.SetTimeouts(timeouts);
    const std::string block = Pattern(4 * 1024 * 1024); // nobody reads the far end
    const auto start = steady_clock::now();
    try {
        Port.SendBuffer(block.data(), Size(block));
        ADD_FAILURE() << "a send that could not go out succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "WriteFile function failed (win error code: 110)");
    }
    EXPECT_LT(MsSince(start), 5000);
}

TEST_F(HalcotPort, PortFailuresPassThroughUnchanged) {
    Port.SetConnected(false);
    char reply[1] = {};
    try {
        Port.Transact("x", 1, reply, 1);
        ADD_FAILURE() << "transact on a closed port succeeded";
    } catch (const EHalcotComTimeout&) {
        ADD_FAILURE() << "a port failure became a time-out";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message().rfind("PurgeComm function failed", 0), 0) << e.Message();
    }
}

TEST(HalcotPortTimeout, LimitSetOnAClosedPortAppliesWhenItOpens) {
    TestPty pty;
    THalcotComPort port;
    port.SetPort(pty.SlavePath());
    port.SetTimeout(150);
    port.SetConnected(true);
    char reply[1] = {};
    const auto start = steady_clock::now();
    EXPECT_THROW(port.Transact("?", 1, reply, 1), EHalcotComTimeout);
    const auto took = MsSince(start);
    EXPECT_GE(took, 145);
    EXPECT_LT(took, 900) << "the default 1000 ms applied";
}

namespace {

// A settings holder with every copied setting away from the defaults.
void FillSource(THalcotComPort& source, const std::string& name) {
    source.SetPort(name);
    source.SetBaudRate(brCustom);
    source.SetCustomBaudRate(31250);
    source.SetDataBits(dbSeven);
    source.SetStopBits(sbTwoStopBits);
    source.SetParity({prEven, false, false, 0});
    TComFlowControl flow = source.FlowControl();
    flow.ControlDTR = dtrEnable;
    flow.XonChar = 0x21;
    source.SetFlowControl(flow);
    source.SetTimeout(4321);
    TComBuffer buffer = source.Buffer();
    buffer.InputSize = 8192;
    source.SetBuffer(buffer);
}

void ExpectCopied(const THalcotComPort& port, const THalcotComPort& source) {
    EXPECT_EQ(port.Port(), source.Port());
    EXPECT_EQ(port.BaudRate(), source.BaudRate());
    EXPECT_EQ(port.CustomBaudRate(), source.CustomBaudRate());
    EXPECT_EQ(port.DataBits(), source.DataBits());
    EXPECT_EQ(port.StopBits(), source.StopBits());
    EXPECT_EQ(port.Parity(), source.Parity());
    EXPECT_EQ(port.FlowControl(), source.FlowControl());
    EXPECT_EQ(port.FlowControl().ControlDTR, dtrEnable);
    // Time limits and queue sizes stay the port's own.
    EXPECT_EQ(port.Timeouts().ReadTotalConstant, 1000);
    EXPECT_EQ(port.Buffer().InputSize, 4096);
}

} // namespace

TEST(HalcotPortCopySettings, ClosedPortTakesTheSettingsAndStaysClosed) {
    THalcotComPort source;
    FillSource(source, "/dev/ttyDaltovenNotOpened");
    THalcotComPort port;
    port.CopySettings(source);
    ExpectCopied(port, source);
    EXPECT_FALSE(port.Connected());
}

TEST(HalcotPortCopySettings, OpenPortEndsOpenUnderTheNewNameAndSettings) {
    TestPty first;
    TestPty second;
    THalcotComPort port;
    port.SetPort(first.SlavePath());
    port.SetConnected(true);

    THalcotComPort source;
    FillSource(source, second.SlavePath());
    port.CopySettings(source);
    ExpectCopied(port, source);
    ASSERT_TRUE(port.Connected());

    Peer peer(second, 3, "ok");
    char reply[2] = {};
    EXPECT_EQ(port.Transact("new", 3, reply, 2), 2);
    EXPECT_EQ(peer.Request(), "new");
    EXPECT_EQ(std::string(reply, 2), "ok");
    EXPECT_EQ(first.Drain(), "");

    THalcotComPort other;
    other.SetPort(first.SlavePath());
    EXPECT_NO_THROW(other.SetConnected(true)) << "the old port was not released";
}

TEST(HalcotPortCopySettings, FailedReopenLeavesThePortClosedWithTheCopiedSettings) {
    TestPty pty;
    THalcotComPort port;
    port.SetPort(pty.SlavePath());
    port.SetConnected(true);

    THalcotComPort source;
    FillSource(source, "/dev/ttyDaltovenDoesNotExist");
    try {
        port.CopySettings(source);
        ADD_FAILURE() << "reopened under a name that does not exist";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
    ExpectCopied(port, source);
}

namespace {
long long CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}
} // namespace

TEST(HalcotPortDelay, LastsItsTimeHandlesEventsMeanwhileAndDoesNotSpin) {
    THalcotComPort port;
    bool fired = false;
    QTimer::singleShot(50, [&] { fired = true; });
    const auto cpuBefore = CpuMs();
    const auto start = steady_clock::now();
    port.Delay(300);
    const auto took = MsSince(start);
    const auto cpu = CpuMs() - cpuBefore;
    EXPECT_TRUE(fired);
    EXPECT_GE(took, 299);
    EXPECT_LT(took, 3000);
    EXPECT_LT(cpu, 150) << "the wait kept a core busy";

    for (const std::int32_t ms : {0, -5}) {
        const auto zeroStart = steady_clock::now();
        port.Delay(ms);
        EXPECT_LT(MsSince(zeroStart), 50) << ms;
    }
}
