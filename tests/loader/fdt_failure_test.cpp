// Every failure of the loader conversation, provoked at its step against a scripted loader.
#include "tests/loader/fixture.h"

#include "platform/streams.h"

#include <QTimer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const std::string Zero(1, '\0');
const std::string GoodIdentity = IdentityReply(0, 0, 0, "");
const std::string EraseWire =
    Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BigEndian32(0x2000) + BigEndian32(0x3E000);

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 13 + 1) & 0xFF);
    return bytes;
}

std::vector<PeerStep> Concat(std::vector<std::vector<PeerStep>> parts) {
    std::vector<PeerStep> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<PeerStep> UserContact{{UserConnectBytes, ConnectResponseBytes}};

} // namespace

// Connect by the user method, failing at each of its steps.

struct ConnectFailureCase {
    const char* Name;
    std::vector<PeerStep> Script;
    // Where the line stops, so that the host's next write cannot go out.
    enum { Never, BeforeConnect, BeforeLastReply } StopLine;
    const char* Message;
};

class ConnectFailure : public DeviceOnPty,
                       public ::testing::WithParamInterface<ConnectFailureCase> {};

TEST_P(ConnectFailure, RaisesItsMessageAndLeavesTheDeviceIdle) {
    ConnectFailureCase c = GetParam();
    if (c.StopLine == ConnectFailureCase::BeforeLastReply)
        c.Script.back().Before = [this] { Line.Stop(); };
    if (c.StopLine == ConnectFailureCase::BeforeConnect)
        Line.Stop();
    // The user method runs under the time limit the port holds: keep the silent cases short.
    Device.Port.SetTimeout(200);
    Device.KeepAliveTimer.SetEnabled(false);
    Info.Mode = ConnectModeUser;
    ScriptedPeer peer(Pty, c.Script);

    const Failure failure = FailureOf([&] { Device.Connect(Info); });
    Line.Restart();

    EXPECT_EQ(failure, (Failure{"EFDTException", c.Message}));
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected())) << "nothing after the failing step";
    EXPECT_EQ(peer.StepsDone(), c.Script.size());
    EXPECT_FALSE(Device.Busy);
    EXPECT_FALSE(Device.KeepAliveTimer.Enabled()) << "a failed Connect leaves the timer as it was";
    EXPECT_TRUE(Device.Port.Connected()) << "closing is the caller's business";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConnectFailure,
    ::testing::Values(
        ConnectFailureCase{"Silent",
                           {{UserConnectBytes, ""}},
                           ConnectFailureCase::Never,
                           "No reply to start command"},
        ConnectFailureCase{"IncompleteReply",
                           {{UserConnectBytes, "TeMo"}},
                           ConnectFailureCase::Never,
                           "No reply to start command"},
        ConnectFailureCase{"UserCommandCannotBeWritten",
                           {},
                           ConnectFailureCase::BeforeConnect,
                           "No reply to start command"},
        ConnectFailureCase{"WrongReply",
                           {{UserConnectBytes, "TeMoKPaX"}},
                           ConnectFailureCase::Never,
                           "Reply doesn't match"},
        ConnectFailureCase{"NoRegister", Concat({UserContact, {{Bytes({0x44, 0x05}), ""}}}),
                           ConnectFailureCase::Never, "Baud Rate Register not received"},
        ConnectFailureCase{"RegisterCannotBeSent",
                           Concat({UserContact, {{Bytes({0x44, 0x05}), Bytes({9})}}}),
                           ConnectFailureCase::BeforeLastReply, "Couldn't send Baud Rate Register"},
        ConnectFailureCase{"IncompleteEcho", Concat({UserContact, SwitchSteps(9, 9, "ABC")}),
                           ConnectFailureCase::Never, "Acknowledge data not received"},
        ConnectFailureCase{"EchoFirstByteDiffers",
                           Concat({UserContact, SwitchSteps(9, 9, "XBCDE")}),
                           ConnectFailureCase::Never, "Acknowledge data doesn't match"},
        ConnectFailureCase{"EchoLastByteDiffers", Concat({UserContact, SwitchSteps(9, 9, "ABCDX")}),
                           ConnectFailureCase::Never, "Acknowledge data doesn't match"},
        ConnectFailureCase{"NoIdentity",
                           Concat({UserContact, SwitchSteps(9, 9), {IdentityStep("")}}),
                           ConnectFailureCase::Never, "Can't Get ID"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceOnPty, MalformedConnectStringFailsBeforeAnythingIsWritten) {
    for (const std::uint8_t mode : {ConnectModeUser, ConnectModeBoot}) {
        SCOPED_TRACE(mode);
        TFullConnectionInfo info = Info;
        info.Mode = mode;
        info.ConnectResponse = "TeMo%G1";
        ScriptedPeer peer(Pty, {});

        const Failure failure = FailureOf([&] { Device.Connect(info); });

        EXPECT_EQ(failure, (Failure{"EConvertError", "Can't convert non-hex character: G"}));
        EXPECT_EQ(Hex(peer.Finish()), "");
        EXPECT_TRUE(Prompt.Shown.empty()) << "no prompt before the strings decode";
        EXPECT_FALSE(Device.Busy);
    }
}

// The boot method's ways of failing.

struct BootFailureCase {
    const char* Name;
    int CancelAtCall;
    int WrongReplies;  // the first attempts get a complete but wrong reply
    int SilentReplies; // then this many get none
    bool StopLine;     // the wake-up string cannot be written at all
    Failure Expected;
    int Attempts; // wake-up strings the unit receives
};

class BootFailure : public DeviceOnPty, public ::testing::WithParamInterface<BootFailureCase> {};

TEST_P(BootFailure, EndsWithItsMessageAndTheRightNumberOfAttempts) {
    const BootFailureCase& c = GetParam();
    RecordingPrompt prompt(c.CancelAtCall);
    Info.Prompt = &prompt;
    Info.Mode = ConnectModeBoot;
    std::vector<PeerStep> script;
    for (int i = 0; i < c.WrongReplies; ++i)
        script.push_back({"TeMoKPaZ", "TeMoKPaX"});
    for (int i = 0; i < c.SilentReplies; ++i)
        script.push_back({"TeMoKPaZ", ""});
    ScriptedPeer peer(Pty, script);
    if (c.StopLine)
        Line.Stop();

    Failure failure = FailureOf([&] { Device.Connect(Info); });
    Line.Restart();

    if (c.StopLine) // the port's own error carries the system's error number
        failure.Message = failure.Message.substr(0, failure.Message.find(" ("));
    EXPECT_EQ(failure, c.Expected);
    std::string wakeUps;
    for (int i = 0; i < c.Attempts; ++i)
        wakeUps += "TeMoKPaZ";
    EXPECT_EQ(Hex(peer.Finish()), Hex(wakeUps));
    EXPECT_EQ(prompt.Shown, std::vector<std::string>{"Reset the Unit"});
    EXPECT_EQ(prompt.Hidden, 1) << "the prompt is hidden however the attempts end";
    EXPECT_FALSE(Device.Busy);
    EXPECT_EQ(ReadTimeout(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, BootFailure,
    ::testing::Values(
        // A wrong reply is remembered through the silent attempts after it.
        BootFailureCase{"WrongThenSilent",
                        0,
                        95,
                        5,
                        false,
                        {"EFDTException", "Unexpected reply to connect command"},
                        100},
        BootFailureCase{
            "CancelWhileSilent", 3, 0, 3, false, {"EFDTException", "Connect Cancelled by User"}, 3},
        BootFailureCase{"CancelAfterWrongReply",
                        2,
                        2,
                        0,
                        false,
                        {"EFDTException", "Connect Cancelled by User"},
                        2},
        // Port errors other than the reply time-out are not retried.
        BootFailureCase{"PortError", 0, 0, 0, true, {"EComPort", "WriteFile function failed"}, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// The one long test: 100 silent attempts at 100 ms each.
TEST_F(DeviceOnPty, BootMethodGivesUpAfterOneHundredSilentAttempts) {
    Info.Mode = ConnectModeBoot;
    ScriptedPeer peer(Pty, {});

    const Failure failure = FailureOf([&] { Device.Connect(Info); });

    EXPECT_EQ(failure, (Failure{"EFDTException", "No reply to connect command"}));
    std::string wakeUps;
    for (int i = 0; i < 100; ++i)
        wakeUps += "TeMoKPaZ";
    EXPECT_EQ(Hex(peer.Finish()), Hex(wakeUps));
    EXPECT_EQ(Bar.Max(), 100);
    EXPECT_EQ(Bar.Position(), 100);
    EXPECT_EQ(Prompt.Hidden, 1);
    EXPECT_EQ(Prompt.CancelledCalls, 100);
}

TEST_F(DeviceOnPty, IdentityFailuresAreAllCantGetId) {
    Device.Port.SetTimeout(200);
    for (const std::string& reply : {std::string(), GoodIdentity.substr(0, 29)}) {
        SCOPED_TRACE(reply.size());
        ScriptedPeer peer(Pty, {IdentityStep(reply)});
        std::uint32_t start = 0;
        std::uint32_t length = 0;
        std::uint16_t seed = 0;
        std::string text;

        EXPECT_EQ(FailureOf([&] { Device.GetId(start, length, seed, text); }),
                  (Failure{"EFDTException", "Can't Get ID"}));
        EXPECT_EQ(FailureOf([&] { Device.Ping(); }), (Failure{"EFDTException", "Can't Get ID"}));
        EXPECT_FALSE(Device.Busy);
    }
}

struct EraseFailureCase {
    const char* Name;
    std::vector<PeerStep> Script;
    Failure Expected;
};

class EraseFailure : public DeviceOnPty, public ::testing::WithParamInterface<EraseFailureCase> {};

TEST_P(EraseFailure, RaisesItsMessageAndLeavesTheShortTimeLimit) {
    const EraseFailureCase& c = GetParam();
    ScriptedPeer peer(Pty, c.Script);

    EXPECT_EQ(FailureOf([&] { Device.Erase(0x2000, 0x40000); }), c.Expected);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected())) << "no identity request after a failure";
    EXPECT_EQ(ReadTimeout(), 500);
    EXPECT_FALSE(Device.Busy);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EraseFailure,
    ::testing::Values(EraseFailureCase{"DeviceFailure",
                                       {{EraseWire, "%"}},
                                       {"EFDTException", "Erase Failed: Device Failure"}},
                      EraseFailureCase{"UnexpectedReply",
                                       {{EraseWire, "X"}},
                                       {"EFDTException", "Erase Failed: Unexpected Reply"}},
                      EraseFailureCase{"NoIdentityAfterErase",
                                       {{EraseWire, "$"}, IdentityStep("")},
                                       {"EFDTException", "Can't Get ID"}},
                      // Waits the full 5000 ms: the port's own time-out passes through.
                      EraseFailureCase{"NoReply",
                                       {{EraseWire, ""}},
                                       {"EHalcotComTimeout", "No Reply Within Time Out Period"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Transfer failures, each in program and in verify mode.

struct TransferFailureCase {
    const char* Name;
    std::size_t ImageSize;
    // The script, from the blocks on (the header step comes first).
    std::function<std::vector<PeerStep>(const std::string& image)> Blocks;
    bool StopLineAtLastStep;
    const char* ProgramMessage;
    const char* VerifyMessage;
};

class TransferFailure
    : public DeviceOnPty,
      public ::testing::WithParamInterface<std::tuple<TransferFailureCase, TTransferMode>> {};

TEST_P(TransferFailure, RaisesTheModesMessage) {
    const auto& [c, mode] = GetParam();
    const std::string image = Pattern(c.ImageSize);
    TMemoryStream stream;
    stream.WriteBuffer(image.data(), static_cast<std::int64_t>(image.size()));
    const std::string command = mode == TTransferMode::Program ? Bytes({0xB7, 0xD6, 0xF5, 0x3C})
                                                               : Bytes({0x53, 0xE1, 0xA8, 0xD7});
    std::vector<PeerStep> script{
        {command + BigEndian32(0x2000) + BigEndian32(static_cast<std::uint32_t>(c.ImageSize)), ""}};
    for (PeerStep& step : c.Blocks(image))
        script.push_back(step);
    if (c.StopLineAtLastStep)
        script.back().Before = [this] { Line.Stop(); };
    ScriptedPeer peer(Pty, script);

    const Failure failure = FailureOf([&] { Device.TransferImage(stream, 0x2000, mode); });
    Line.Restart();

    const char* message = mode == TTransferMode::Program ? c.ProgramMessage : c.VerifyMessage;
    EXPECT_EQ(failure, (Failure{"EFDTException", message}));
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(peer.StepsDone(), script.size());
    EXPECT_FALSE(Device.Busy);
    EXPECT_EQ(ReadTimeout(), 5000);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TransferFailure,
    ::testing::Combine(
        ::testing::Values(
            // "#" names the block's offset in the image; the unit is asked its identity first.
            TransferFailureCase{"HashAtThirdBlock", 384,
                                [](const std::string& image) {
                                    return std::vector<PeerStep>{
                                        {image.substr(0, 128), Zero},
                                        {Zero + image.substr(128, 128), Zero},
                                        {Zero + image.substr(256, 128), "#"},
                                        IdentityStep(GoodIdentity)};
                                },
                                false, "Write Failed at address 0x00000100 (256).",
                                "Verify Failed at address 0x00000100 (256)."},
            TransferFailureCase{"HashShowsUpperCaseHex", 6912,
                                [](const std::string& image) {
                                    std::vector<PeerStep> steps{{image.substr(0, 128), Zero}};
                                    for (std::size_t at = 128; at < 6784; at += 128)
                                        steps.push_back({Zero + image.substr(at, 128), Zero});
                                    steps.push_back({Zero + image.substr(6784, 128), "#"});
                                    steps.push_back(IdentityStep(GoodIdentity));
                                    return steps;
                                },
                                false, "Write Failed at address 0x00001A80 (6784).",
                                "Verify Failed at address 0x00001A80 (6784)."},
            TransferFailureCase{"HashToFinalNamesTheLastBlock", 256,
                                [](const std::string& image) {
                                    return std::vector<PeerStep>{
                                        {image.substr(0, 128), Zero},
                                        {Zero + image.substr(128, 128), Zero},
                                        {Zero, "#"},
                                        IdentityStep(GoodIdentity)};
                                },
                                false, "Write Failed at address 0x00000080 (128).",
                                "Verify Failed at address 0x00000080 (128)."},
            TransferFailureCase{
                "HashToFinalOfEmptyImage", 0,
                [](const std::string&) {
                    return std::vector<PeerStep>{{Zero, "#"}, IdentityStep(GoodIdentity)};
                },
                false, "Write Failed at address 0x00000000 (0).",
                "Verify Failed at address 0x00000000 (0)."},
            // The identity request after "#" cannot be written: its failure wins.
            TransferFailureCase{"HashThenNoIdentity", 128,
                                [](const std::string& image) {
                                    return std::vector<PeerStep>{{image, "#"}};
                                },
                                true, "Can't Get ID", "Can't Get ID"},
            TransferFailureCase{"FinishedReplyToADataBlock", 256,
                                [](const std::string& image) {
                                    return std::vector<PeerStep>{{image.substr(0, 128), "\x22"}};
                                },
                                false, "Write Failed: Unexpected Response.",
                                "Verify Failed: Unexpected Response."},
            TransferFailureCase{"AcceptedReplyToTheFinalByte", 128,
                                [](const std::string& image) {
                                    return std::vector<PeerStep>{{image, Zero}, {Zero, Zero}};
                                },
                                false, "Write Failed: Unexpected Response.",
                                "Verify Failed: Unexpected Response."},
            TransferFailureCase{"BlockCannotBeWritten", 1,
                                [](const std::string&) { return std::vector<PeerStep>{}; }, true,
                                "Write Failed: No reply", "Verify Failed: No Reply."}),
        ::testing::Values(TTransferMode::Program, TTransferMode::Verify)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).Name) +
               (std::get<1>(info.param) == TTransferMode::Program ? "_Program" : "_Verify");
    });

TEST_F(DeviceOnPty, TransferWithoutABlockReplyWaitsItsLimitThenFails) {
    const std::string image = Pattern(128);
    TMemoryStream stream;
    stream.WriteBuffer(image.data(), 128);
    ScriptedPeer peer(
        Pty,
        {{Bytes({0xB7, 0xD6, 0xF5, 0x3C}) + BigEndian32(0) + BigEndian32(128), ""}, {image, ""}});

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf([&] { Device.ProgramImage(stream, 0); }),
              (Failure{"EFDTException", "Write Failed: No reply"}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
}

class TransferAbort : public DeviceOnPty, public ::testing::WithParamInterface<TTransferMode> {};

TEST_P(TransferAbort, RequestDuringTheBlockPumpEndsTheTransferWithTheAbortByte) {
    const TTransferMode mode = GetParam();
    const std::string image = Pattern(384);
    TMemoryStream stream;
    stream.WriteBuffer(image.data(), 384);
    const std::string command = mode == TTransferMode::Program ? Bytes({0xB7, 0xD6, 0xF5, 0x3C})
                                                               : Bytes({0x53, 0xE1, 0xA8, 0xD7});
    // After block 2 of 3: no continue byte, the final byte is 0xFF, then the identity.
    ScriptedPeer peer(Pty, {{command + BigEndian32(0) + BigEndian32(384), ""},
                            {image.substr(0, 128), Zero},
                            {Zero + image.substr(128, 128), Zero},
                            {Bytes({0xFF}), "\x22"},
                            IdentityStep(GoodIdentity)});
    // The request arrives as an event, handled at the pump after the second block.
    struct AbortingBar : TProgressBar {
        TFlashFDTDevice* Device = nullptr;
        void Changed() override {
            if (Position() == 256)
                QTimer::singleShot(0, [device = Device] { device->AbortRequested = true; });
        }
    } bar;
    bar.Device = &Device;
    Device.ProgressBar = &bar;

    EXPECT_EQ(FailureOf([&] { Device.TransferImage(stream, 0, mode); }),
              (Failure{"EFDTException", "Programming Aborted by User."}));

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(bar.Position(), 256);
    EXPECT_TRUE(Device.AbortRequested) << "stays set until the next transfer or erase";
    EXPECT_FALSE(Device.Busy);
}

INSTANTIATE_TEST_SUITE_P(Modes, TransferAbort,
                         ::testing::Values(TTransferMode::Program, TTransferMode::Verify),
                         [](const auto& info) {
                             return info.param == TTransferMode::Program ? "Program" : "Verify";
                         });

TEST_F(DeviceOnPty, AStaleAbortRequestIsClearedWhenATransferStarts) {
    TMemoryStream empty;
    Device.AbortRequested = true;
    ScriptedPeer peer(Pty, {{Bytes({0xB7, 0xD6, 0xF5, 0x3C}) + BigEndian32(0) + BigEndian32(0), ""},
                            {Zero, "\x22"},
                            IdentityStep(GoodIdentity)});

    EXPECT_NO_THROW(Device.ProgramImage(empty, 0));
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
}

TEST_F(DeviceOnPty, TransferBlockSizeOutsideItsBufferIsRefusedBeforeSending) {
    for (const int size : {0, -1, 257}) {
        SCOPED_TRACE(size);
        Device.TransferBlockSize = size;
        TMemoryStream stream;
        stream.WriteBuffer("abcd", 4);
        ScriptedPeer peer(Pty, {});

        EXPECT_EQ(FailureOf([&] { Device.ProgramImage(stream, 0); }),
                  (Failure{"EFDTException", "Transfer block size must lie between 1 and 256"}));
        EXPECT_EQ(Hex(peer.Finish()), "");
        EXPECT_FALSE(Device.Busy);
    }
}
