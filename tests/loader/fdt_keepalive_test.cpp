// The keep-alive: an identity request once a second while the port is open and nothing runs;
// one report of a failed one, then silence until the next successful Connect.
#include "tests/loader/fixture.h"

#include "platform/streams.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const std::string GoodIdentity = IdentityReply(1, 2, 3, "unit");

int Requests(const std::string& received) {
    int count = 0;
    for (std::size_t at = 0; at + 4 <= received.size(); at += 4)
        count += received.compare(at, 4, IdentityRequest) == 0;
    return count;
}

} // namespace

using KeepAlive = DeviceOnPty;

TEST_F(KeepAlive, PingsAboutOnceASecondWhileIdle) {
    ExceptionRecorder recorder;
    ScriptedPeer peer(Pty, {}, IdentityStep(GoodIdentity));

    WaitProcessingMessages(2300);

    const std::string received = peer.Finish();
    EXPECT_EQ(received.size() % 4, 0u);
    EXPECT_EQ(Requests(received) * 4u, received.size()) << "nothing but identity requests";
    EXPECT_GE(Requests(received), 2);
    EXPECT_LE(Requests(received), 3);
    EXPECT_TRUE(recorder.Messages.empty());
}

TEST_F(KeepAlive, SilentWhileThePortIsClosedOrTheDeviceIsBusy) {
    ExceptionRecorder recorder;
    ScriptedPeer peer(Pty, {}, IdentityStep(GoodIdentity));

    Device.Port.SetConnected(false);
    WaitProcessingMessages(1300);
    EXPECT_TRUE(Device.KeepAliveTimer.Enabled()) << "a closed port is no failure";

    Device.Port.SetConnected(true);
    Device.Busy = true;
    WaitProcessingMessages(1300);

    EXPECT_EQ(Hex(peer.Finish()), "");
    EXPECT_TRUE(recorder.Messages.empty());
}

TEST_F(KeepAlive, SilentThroughATransferThatOutlastsItsInterval) {
    ExceptionRecorder recorder;
    std::string image(384, '\x5A');
    TMemoryStream stream;
    stream.WriteBuffer(image.data(), 384);
    const std::string zero(1, '\0');
    // A slow unit: the transfer pumps messages for well over a second.
    ScriptedPeer peer(Pty,
                      {{Bytes({0xB7, 0xD6, 0xF5, 0x3C}) + BigEndian32(0) + BigEndian32(384), ""},
                       {image.substr(0, 128), zero, 450ms},
                       {zero + image.substr(128, 128), zero, 450ms},
                       {zero + image.substr(256, 128), zero, 450ms},
                       {zero, "\x22"},
                       IdentityStep(GoodIdentity)});

    const auto start = std::chrono::steady_clock::now();
    Device.ProgramImage(stream, 0);
    ASSERT_GE(std::chrono::steady_clock::now() - start, 1300ms);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_TRUE(recorder.Messages.empty());
}

TEST_F(KeepAlive, FailedPingIsReportedOnceThenSilenceUntilTheNextConnect) {
    ExceptionRecorder recorder;
    Device.Port.SetTimeout(200);
    {
        ScriptedPeer silent(Pty, {});
        ASSERT_TRUE(PumpUntil([&] { return !recorder.Messages.empty(); }, 3000ms));
        WaitProcessingMessages(1500);

        EXPECT_EQ(recorder.Messages, std::vector<std::string>{"Can't Get ID"});
        EXPECT_FALSE(Device.KeepAliveTimer.Enabled());
        EXPECT_EQ(Hex(silent.Finish()), Hex(IdentityRequest)) << "one request only";
    }

    std::vector<PeerStep> connect = SwitchSteps(9, 9);
    connect.push_back(IdentityStep(GoodIdentity));
    ScriptedPeer unit(Pty, connect, IdentityStep(GoodIdentity));
    Info.Mode = 2;
    Device.Connect(Info);
    EXPECT_TRUE(Device.KeepAliveTimer.Enabled());
    WaitProcessingMessages(1300);

    const std::string received = unit.Finish();
    const std::string& expected = unit.Expected();
    ASSERT_GE(received.size(), expected.size());
    EXPECT_EQ(Hex(received.substr(0, expected.size())), Hex(expected));
    const std::string afterConnect = received.substr(expected.size());
    EXPECT_GE(Requests(afterConnect), 1) << "the keep-alive talks again after the connect";
    EXPECT_EQ(Requests(afterConnect) * 4u, afterConnect.size());
    EXPECT_EQ(recorder.Messages.size(), 1u);
}
