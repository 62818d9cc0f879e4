// Byte-exact exchanges with a scripted loader, and the read time limit each operation leaves.
#include "tests/loader/fixture.h"

#include "platform/streams.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::string_literals;

namespace {

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

void Fill(TMemoryStream& stream, const std::string& bytes) {
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

const std::string SomeIdentity = IdentityReply(0x1234, 0x2000, 0x3E000, "H8/3664 loader v1.0 ");

} // namespace

using DeviceExchange = DeviceOnPty;

TEST_F(DeviceExchange, UserConnectSwitchesSpeedAndAsksTheIdentity) {
    ConnectPort.SetBaudRate(br9600);
    ProgramPort.SetBaudRate(br57600);
    Info.Mode = ConnectModeUser;
    std::vector<PeerStep> script{{UserConnectBytes, ConnectResponseBytes}};
    for (PeerStep& step : SwitchSteps(103, 17))
        script.push_back(step);
    script.push_back(IdentityStep(SomeIdentity));
    ScriptedPeer peer(Pty, script);
    Device.KeepAliveTimer.SetEnabled(false);

    Device.Connect(Info);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(Status.Caption(), "Connecting...");
    EXPECT_EQ(Bar.Max(), 1);
    EXPECT_EQ(Bar.Position(), 1);
    EXPECT_EQ(Device.Port.BaudRate(), br57600);
    EXPECT_EQ(ReadTimeout(), 500);
    EXPECT_TRUE(Device.KeepAliveTimer.Enabled());
    EXPECT_FALSE(Device.Busy);
    EXPECT_TRUE(Prompt.Shown.empty()) << "the user method asks nothing of the user";
}

TEST_F(DeviceExchange, BootConnectRepeatsTheWakeUpUntilTheUnitAnswers) {
    Info.Mode = ConnectModeBoot;
    std::vector<PeerStep> script{{"TeMoKPaZ", ""}, {"TeMoKPaZ", ""}, {"TeMoKPaZ", "TeMoKPaZ"}};
    for (PeerStep& step : SwitchSteps(25, 25))
        script.push_back(step);
    script.push_back(IdentityStep(SomeIdentity));
    ScriptedPeer peer(Pty, script);

    Device.Connect(Info);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(Prompt.Shown, std::vector<std::string>{"Reset the Unit"});
    EXPECT_EQ(Prompt.Hidden, 1);
    // A success resets the bar to a range of one and fills it.
    EXPECT_EQ(Bar.Max(), 1);
    EXPECT_EQ(Bar.Position(), 1);
    EXPECT_EQ(ReadTimeout(), 500);
}

TEST_F(DeviceExchange, ModeWithoutContactExchangeGoesStraightToTheSwitch) {
    Info.Mode = 2;
    std::vector<PeerStep> script = SwitchSteps(50, 50);
    script.push_back(IdentityStep(SomeIdentity));
    ScriptedPeer peer(Pty, script);

    Device.Connect(Info);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_TRUE(Prompt.Shown.empty());
}

TEST_F(DeviceExchange, UseDtrWaitsAfterEachChangeOfLineSettings) {
    Info.Mode = 2;
    Info.UseDtr = true;
    std::vector<PeerStep> script = SwitchSteps(50, 50);
    script.push_back(IdentityStep(SomeIdentity));
    ScriptedPeer peer(Pty, script);

    const auto start = std::chrono::steady_clock::now();
    Device.Connect(Info);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    // 200 ms settle, 500 ms before the switch, 200 ms settle at the new settings.
    EXPECT_GE(elapsed, std::chrono::milliseconds(880));
}

struct SwitchCase {
    const char* Name;
    TBaudRate Connect;
    TBaudRate Program;
    int Register;
    int Sent;
};

class SwitchRegister : public DeviceOnPty, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchRegister, SendsTheRescaledRegisterAndEndsAtTheProgrammingSettings) {
    const SwitchCase& c = GetParam();
    Device.Port.SetBaudRate(c.Connect);
    ProgramPort.SetBaudRate(c.Program);
    ProgramPort.SetDataBits(dbSeven);
    ProgramPort.SetStopBits(sbTwoStopBits);
    TComParity even;
    even.Bits = prEven;
    ProgramPort.SetParity(even);
    ScriptedPeer peer(Pty, SwitchSteps(c.Register, c.Sent));

    Device.SwitchBaudRate(Info);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(Device.Port.BaudRate(), c.Program);
    EXPECT_EQ(Device.Port.DataBits(), dbSeven);
    EXPECT_EQ(Device.Port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(Device.Port.Parity().Bits, prEven);
    EXPECT_TRUE(Device.Port.Connected());
    EXPECT_EQ(ReadTimeout(), 500);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SwitchRegister,
    ::testing::Values(SwitchCase{"R103_9600_to_57600", br9600, br57600, 103, 17},
                      SwitchCase{"R25_9600_to_38400", br9600, br38400, 25, 6},
                      SwitchCase{"R105_14400_to_56000", br14400, br56000, 105, 27},
                      SwitchCase{"SameSpeedKeepsTheRegister", br19200, br19200, 77, 77},
                      // 200 * 57600 / 9600 = 1200: only its low eight bits go out.
                      SwitchCase{"SlowerSpeedSendsLowByte", br57600, br9600, 200, 0xB0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceExchange, IdentityDecodesSeedStartLengthAndTheWholeText) {
    const std::string text = "ID\0\0 with zeros \0ok!"s;
    ASSERT_EQ(text.size(), 20u);
    // Five surplus bytes after the reply: thrown away by the next request.
    ScriptedPeer peer(Pty,
                      {IdentityStep(IdentityReply(0xBEEF, 0x00012000, 0x0003E000, text) + "extra"),
                       IdentityStep(IdentityReply(0x0102, 0x03040506, 0x0708090A, "B"))});

    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint16_t seed = 0;
    std::string id;
    Device.GetId(start, length, seed, id);
    EXPECT_EQ(seed, 0xBEEF);
    EXPECT_EQ(start, 0x00012000u);
    EXPECT_EQ(length, 0x0003E000u);
    EXPECT_EQ(Hex(id), Hex(text));

    Device.GetId(start, length, seed, id);
    EXPECT_EQ(seed, 0x0102);
    EXPECT_EQ(start, 0x03040506u);
    EXPECT_EQ(length, 0x0708090Au);
    EXPECT_EQ(id.size(), 20u);

    EXPECT_EQ(Hex(peer.Finish()), Hex(IdentityRequest + IdentityRequest));
    EXPECT_FALSE(Device.Busy);
    // The identity request sets no time limit of its own.
    EXPECT_EQ(ReadTimeout(), 1000);
}

struct EraseCase {
    const char* Name;
    std::uint32_t Start;
    std::uint32_t End;
    std::string Wire;
    // How long the unit takes to erase before it answers.
    std::chrono::milliseconds Pause{0};
};

class EraseExchange : public DeviceOnPty, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseExchange, SendsStartAndLengthThenPings) {
    const EraseCase& c = GetParam();
    ScriptedPeer peer(Pty, {{c.Wire, "$", c.Pause}, IdentityStep(SomeIdentity)});

    Device.Erase(c.Start, c.End);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(Status.Caption(), "Erasing FLASH...");
    EXPECT_EQ(Bar.Max(), 1);
    EXPECT_EQ(Bar.Position(), 1);
    EXPECT_EQ(ReadTimeout(), 500);
    EXPECT_FALSE(Device.Busy);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, EraseExchange,
    ::testing::Values(
        EraseCase{"StoredDefinition", 0x2000, 0x40000,
                  Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BigEndian32(0x2000) + BigEndian32(0x3E000)},
        // No check is made: the length wraps.
        EraseCase{"EndBelowStart", 0x10, 0x08,
                  Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BigEndian32(0x10) + BigEndian32(0xFFFFFFF8)},
        // The erase reply is waited for up to 5000 ms, well beyond the limit the port held.
        EraseCase{"SlowUnitIsStillHeard", 0x2000, 0x40000,
                  Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BigEndian32(0x2000) + BigEndian32(0x3E000),
                  std::chrono::milliseconds(1500)}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TransferCase {
    const char* Name;
    TTransferMode Mode;
    std::string Command;
    const char* Status;
};

class TransferExchange : public DeviceOnPty, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferExchange, SendsBlocksWithAContinueByteAfterEachReply) {
    const TransferCase& c = GetParam();
    const std::string image = Pattern(384);
    TMemoryStream stream;
    Fill(stream, image);
    const std::string zero(1, '\0');
    // When the header and the first block were in at the unit (read once the peer is done).
    std::chrono::steady_clock::time_point headerIn;
    std::chrono::steady_clock::time_point firstBlockIn;
    const auto stampInto = [](std::chrono::steady_clock::time_point& at) {
        return [&at] { at = std::chrono::steady_clock::now(); };
    };
    ScriptedPeer peer(
        Pty, {{c.Command + BigEndian32(0x2000) + BigEndian32(384), "", {}, stampInto(headerIn)},
              {image.substr(0, 128), zero, {}, stampInto(firstBlockIn)},
              {zero + image.substr(128, 128), zero},
              {zero + image.substr(256, 128), zero},
              {zero, "\x22"},
              IdentityStep(SomeIdentity)});
    std::vector<int> progress;
    struct RecordingBar : TProgressBar {
        std::vector<int>* Seen;
        void Changed() override { Seen->push_back(Position()); }
    } bar;
    bar.Seen = &progress;
    Device.ProgressBar = &bar;

    Device.TransferImage(stream, 0x2000, c.Mode);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    // The unit is given 100 ms between the header and the first block.
    EXPECT_GE(firstBlockIn - headerIn, std::chrono::milliseconds(90));
    EXPECT_EQ(Status.Caption(), c.Status);
    EXPECT_EQ(bar.Max(), 384);
    EXPECT_EQ(progress.back(), 384);
    EXPECT_NE(std::find(progress.begin(), progress.end(), 128), progress.end());
    EXPECT_NE(std::find(progress.begin(), progress.end(), 256), progress.end());
    EXPECT_EQ(ReadTimeout(), 5000);
    EXPECT_EQ(stream.Position(), 384);
    EXPECT_FALSE(Device.Busy);
}

TEST_P(TransferExchange, EmptyImageSendsOnlyTheHeaderAndTheFinalByte) {
    const TransferCase& c = GetParam();
    TMemoryStream empty;
    const std::string zero(1, '\0');
    ScriptedPeer peer(Pty, {{c.Command + BigEndian32(0x100) + BigEndian32(0), ""},
                            {zero, "\x22"},
                            IdentityStep(SomeIdentity)});

    Device.TransferImage(empty, 0x100, c.Mode);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
}

TEST_P(TransferExchange, ShortLastBlock) {
    const TransferCase& c = GetParam();
    const std::string image = Pattern(130);
    TMemoryStream stream;
    Fill(stream, image);
    const std::string zero(1, '\0');
    ScriptedPeer peer(Pty, {{c.Command + BigEndian32(0) + BigEndian32(130), ""},
                            {image.substr(0, 128), zero},
                            {zero + image.substr(128), zero},
                            {zero, "\x22"},
                            IdentityStep(SomeIdentity)});

    Device.TransferImage(stream, 0, c.Mode);

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TransferExchange,
    ::testing::Values(TransferCase{"Program", TTransferMode::Program,
                                   Bytes({0xB7, 0xD6, 0xF5, 0x3C}), "Programming FLASH..."},
                      TransferCase{"Verify", TTransferMode::Verify, Bytes({0x53, 0xE1, 0xA8, 0xD7}),
                                   "Verifying FLASH..."}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceExchange, RunSendsItsCommandAndReadsNothing) {
    ScriptedPeer peer(Pty, {{Bytes({0xC3, 0x37, 0x23, 0xC6}), ""}});
    Status.SetCaption("before");

    Device.Run();

    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
    EXPECT_EQ(Status.Caption(), "before");
    EXPECT_FALSE(Device.Busy);
}

// The read time limit is state that each operation hands to the next.
TEST_F(DeviceExchange, TimeLimitCarriesFromOneOperationToTheNext) {
    EXPECT_EQ(ReadTimeout(), 1000) << "a new port";
    const std::string image = Pattern(128);
    TMemoryStream stream;
    Fill(stream, image);
    const std::string zero(1, '\0');
    std::vector<PeerStep> script{{"TeMoKPaZ", "TeMoKPaZ"}};
    for (PeerStep& step : SwitchSteps(9, 9))
        script.push_back(step);
    script.push_back(IdentityStep(SomeIdentity));
    script.push_back({Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BigEndian32(0) + BigEndian32(128), "$"});
    script.push_back(IdentityStep(SomeIdentity));
    script.push_back({Bytes({0xB7, 0xD6, 0xF5, 0x3C}) + BigEndian32(0) + BigEndian32(128), ""});
    script.push_back({image, zero});
    script.push_back({zero, "\x22"});
    script.push_back(IdentityStep(SomeIdentity));
    ScriptedPeer peer(Pty, script);

    Info.Mode = ConnectModeBoot;
    Device.Connect(Info);
    EXPECT_EQ(ReadTimeout(), 500) << "after Connect";
    Device.Erase(0, 128);
    EXPECT_EQ(ReadTimeout(), 500) << "after Erase";
    Device.ProgramImage(stream, 0);
    EXPECT_EQ(ReadTimeout(), 5000) << "after a transfer";
    Device.Run();
    EXPECT_EQ(ReadTimeout(), 5000) << "Run sets none";
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected() + Bytes({0xC3, 0x37, 0x23, 0xC6})));

    // The next run's user method waits under the 5000 ms the transfer left: a unit that
    // answers after 1200 ms is still heard.
    std::vector<PeerStep> next{
        {UserConnectBytes, ConnectResponseBytes, std::chrono::milliseconds(1200)}};
    for (PeerStep& step : SwitchSteps(9, 9))
        next.push_back(step);
    next.push_back(IdentityStep(SomeIdentity));
    ScriptedPeer secondRun(Pty, next);
    Info.Mode = ConnectModeUser;
    Device.Connect(Info);
    EXPECT_EQ(Hex(secondRun.Finish()), Hex(secondRun.Expected()));
}
