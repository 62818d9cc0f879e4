// The flash target: defaults, the connection choice, the definition from a package, the
// identity check, the image tests and the stream padding.
#include "target/h83664.h"

#include "package/storeexe.h"
#include "platform/streams.h"
#include "tests/loader/fixture.h"
#include "tests/loader/peer.h"
#include "tests/support/pty.h"
#include "tests/target/images.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

void ExpectLineSettings(const THalcotComPort& port, TBaudRate baud, TDataBits data, TStopBits stop,
                        TParityBits parity) {
    EXPECT_EQ(port.BaudRate(), baud);
    EXPECT_EQ(port.DataBits(), data);
    EXPECT_EQ(port.StopBits(), stop);
    EXPECT_EQ(port.Parity().Bits, parity);
}

void Fill(TMemoryStream& stream, const std::vector<std::uint8_t>& bytes) {
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::vector<std::uint8_t> Contents(TMemoryStream& stream) {
    return {stream.Data(), stream.Data() + stream.Size()};
}

} // namespace

TEST(HitachiFlashDefaults, NewTargetHasTheDefaultSettingsAndAZeroDefinition) {
    TLabel status;
    TProgressBar bar;
    THitachiFlash flash(nullptr, &status, &bar);

    EXPECT_EQ(flash.ConnectionInfo.Mode, ConnectModeBoot);
    for (const THalcotComPort* holder :
         {flash.ConnectionInfo.ConnectPort, flash.ConnectionInfo.ProgramPort}) {
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(holder->Port(), "COM1");
        ExpectLineSettings(*holder, br9600, dbEight, sbOneStopBit, prNone);
        EXPECT_FALSE(holder->Connected());
    }
    EXPECT_NE(flash.ConnectionInfo.ConnectPort, flash.ConnectionInfo.ProgramPort);
    EXPECT_EQ(flash.ConnectionInfo.BootConnect, "TeMoKPaZ");
    EXPECT_EQ(flash.ConnectionInfo.UserConnect, "%02QD7315%03");
    EXPECT_EQ(flash.ConnectionInfo.ConnectResponse, "TeMoKPaZ");
    EXPECT_FALSE(flash.ConnectionInfo.UseDtr);
    EXPECT_NE(flash.ConnectionInfo.Prompt, nullptr);
    EXPECT_EQ(flash.FlashCheckSeed, 0);
    EXPECT_EQ(flash.FlashStart, 0u);
    EXPECT_EQ(flash.FlashLength, 0u);
    EXPECT_EQ(flash.FlashBlockSize, 0u);
    EXPECT_EQ(flash.FlashVerification, 0);
    EXPECT_EQ(flash.Device.TransferBlockSize, 128);
    EXPECT_EQ(flash.Device.StatusLabel, &status);
    EXPECT_EQ(flash.Device.ProgressBar, &bar);

    flash.ConnectionInfo.UserConnect = "changed";
    flash.ResetUserConnect();
    EXPECT_EQ(flash.ConnectionInfo.UserConnect, "%02QD7315%03");
}

TEST(HitachiFlashDefaults, ThePromptHandedInIsTheOneTheConnectionUses) {
    auto prompt = std::make_unique<RecordingPrompt>();
    RecordingPrompt* raw = prompt.get();
    THitachiFlash flash(nullptr, nullptr, nullptr, std::move(prompt));
    EXPECT_EQ(flash.ConnectionInfo.Prompt, raw);

    THitachiFlash withoutPrompt(nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(withoutPrompt.ConnectionInfo.Prompt, nullptr) << "a silent prompt stands in";
}

// Configure: the user's port, by method and DTR choice.

struct ConfigureCase {
    const char* Name;
    std::uint8_t Mode;
    bool UseDtr;
};

class Configure : public ::testing::TestWithParam<ConfigureCase> {
protected:
    void SetUp() override {
        // What ApplyTo would have put there.
        Flash.ConnectionInfo.ProgramPort->SetBaudRate(br115200);
        Flash.ConnectionInfo.ProgramPort->SetDataBits(dbSeven);
        User.SetPort("/dev/ttyUSB7");
        User.SetBaudRate(br57600);
        User.SetCustomBaudRate(31250);
        User.SetDataBits(dbSix);
        User.SetStopBits(sbTwoStopBits);
        TComParity odd;
        odd.Bits = prOdd;
        User.SetParity(odd);
        TComFlowControl handshakes;
        handshakes.OutCTSFlow = true;
        handshakes.XonXoffIn = true;
        handshakes.XonXoffOut = true;
        handshakes.ControlRTS = rtsHandshake;
        handshakes.ControlDTR = dtrHandshake;
        User.SetFlowControl(handshakes);
        Flash.ConnectionInfo.ConnectPort->SetFlowControl(handshakes);
    }

    THitachiFlash Flash{nullptr, nullptr, nullptr};
    THalcotComPort User;
};

TEST_P(Configure, TakesThePortAndSetsTheLines) {
    const ConfigureCase& c = GetParam();
    Flash.Configure({c.Mode, c.UseDtr, &User, nullptr});
    const THalcotComPort& connect = *Flash.ConnectionInfo.ConnectPort;
    const THalcotComPort& program = *Flash.ConnectionInfo.ProgramPort;

    EXPECT_EQ(Flash.ConnectionInfo.Mode, c.Mode);
    EXPECT_EQ(Flash.ConnectionInfo.UseDtr, c.UseDtr);
    EXPECT_EQ(connect.Port(), "/dev/ttyUSB7");
    EXPECT_EQ(program.Port(), "/dev/ttyUSB7");
    if (c.Mode == ConnectModeUser) {
        ExpectLineSettings(connect, br57600, dbSix, sbTwoStopBits, prOdd);
        EXPECT_EQ(connect.CustomBaudRate(), 31250);
    } else {
        ExpectLineSettings(connect, br9600, dbEight, sbOneStopBit, prNone);
    }
    for (const THalcotComPort* holder : {&connect, &program}) {
        const TComFlowControl& flow = holder->FlowControl();
        EXPECT_EQ(flow.ControlDTR, c.UseDtr ? dtrEnable : dtrDisable);
        EXPECT_EQ(flow.ControlRTS, rtsDisable);
        EXPECT_FALSE(flow.OutCTSFlow);
        EXPECT_FALSE(flow.XonXoffIn);
        EXPECT_FALSE(flow.XonXoffOut);
    }
    EXPECT_EQ(program.FlowControl(), connect.FlowControl());
    // The programming line settings stay the definition's.
    ExpectLineSettings(program, br115200, dbSeven, sbOneStopBit, prNone);
    EXPECT_FALSE(connect.Connected());
    EXPECT_FALSE(program.Connected());
}

INSTANTIATE_TEST_SUITE_P(Choices, Configure,
                         ::testing::Values(ConfigureCase{"UserWithDtr", ConnectModeUser, true},
                                           ConfigureCase{"UserWithoutDtr", ConnectModeUser, false},
                                           ConfigureCase{"BootWithDtr", ConnectModeBoot, true},
                                           ConfigureCase{"BootWithoutDtr", ConnectModeBoot, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Configure, BootMethodAfterTheUserMethodKeepsTheUserPortsLineSettings) {
    Flash.Configure({ConnectModeUser, false, &User, nullptr});
    THalcotComPort other;
    other.SetPort("/dev/ttyS3");
    Flash.Configure({ConnectModeBoot, false, &other, nullptr});

    EXPECT_EQ(Flash.ConnectionInfo.ConnectPort->Port(), "/dev/ttyS3");
    ExpectLineSettings(*Flash.ConnectionInfo.ConnectPort, br57600, dbSix, sbTwoStopBits, prOdd);
}

TEST_F(Configure, ASuppliedPromptServesOnlyTheConnectionItWasGivenFor) {
    TUserPrompt* own = Flash.ConnectionInfo.Prompt;
    RecordingPrompt supplied;
    Flash.Configure({ConnectModeBoot, false, &User, &supplied});
    EXPECT_EQ(Flash.ConnectionInfo.Prompt, &supplied);
    Flash.Configure({ConnectModeBoot, false, &User, nullptr});
    EXPECT_EQ(Flash.ConnectionInfo.Prompt, own);
}

TEST_F(Configure, WithoutAPortIsRefused) {
    EXPECT_EQ(FailureOf([&] {
                  Flash.Configure({ConnectModeUser, false, nullptr, nullptr});
              }),
              (Failure{"EHitachiFlashException", "No serial port selected"}));
}

// The definition from a package block built here, at the offsets the package stores.

namespace {

struct PayloadWriter {
    std::vector<std::uint8_t> Bytes = std::vector<std::uint8_t>(458752, 0);

    void U32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            Bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void U16(std::size_t at, std::uint16_t v) {
        Bytes[at] = static_cast<std::uint8_t>(v);
        Bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void Text(std::size_t at, const std::string& text) {
        std::memcpy(Bytes.data() + at, text.data(), text.size());
    }
    void Settings(std::size_t at, std::uint32_t baud, std::uint32_t data, std::uint32_t stop,
                  std::uint32_t parity) {
        U32(at, baud);
        U32(at + 4, data);
        U32(at + 8, stop);
        U32(at + 12, parity);
    }
};

} // namespace

TEST(ApplyTo, CopiesTheDefinitionBothSettingsRecordsAndTheStrings) {
    PayloadWriter payload;
    payload.U32(0, 2);
    payload.Settings(84, 7, 3, 0, 0);
    // Only the low byte of each value counts.
    payload.Settings(100, 0xABCD0000 | 12, 0x0100 | 2, 0xFF000000 | 2, 0x00FF0000 | 2);
    payload.Text(116, "Boot%0D");
    payload.Text(156, "%02USER%03");
    // A full 40-byte field without a terminator.
    payload.Text(196, std::string(40, 'R'));
    payload.U32(236, 0x2000);
    payload.U32(240, 0x3E000);
    payload.U32(244, 1024);
    payload.U32(248, 0x800);
    payload.U16(252, 0xA55A);
    payload.Bytes[254] = 1;

    THitachiFlash flash(nullptr, nullptr, nullptr);
    // Line settings the package must replace.
    flash.ConnectionInfo.ConnectPort->SetBaudRate(br300);
    flash.ConnectionInfo.ConnectPort->SetDataBits(dbFive);
    TExeProgrammingInfo(payload.Bytes.data()).ApplyTo(flash);

    EXPECT_EQ(flash.FlashStart, 0x2000u);
    EXPECT_EQ(flash.FlashLength, 0x3E000u);
    EXPECT_EQ(flash.FlashBlockSize, 0x800u);
    EXPECT_EQ(flash.FlashCheckSeed, 0xA55A);
    EXPECT_EQ(flash.FlashVerification, 1);
    ExpectLineSettings(*flash.ConnectionInfo.ConnectPort, br9600, dbEight, sbOneStopBit, prNone);
    ExpectLineSettings(*flash.ConnectionInfo.ProgramPort, br57600, dbSeven, sbTwoStopBits, prEven);
    EXPECT_EQ(flash.ConnectionInfo.BootConnect, "Boot%0D");
    EXPECT_EQ(flash.ConnectionInfo.UserConnect, "%02USER%03");
    EXPECT_EQ(flash.ConnectionInfo.ConnectResponse, std::string(40, 'R'));
    // The port names are not part of a settings record.
    EXPECT_EQ(flash.ConnectionInfo.ConnectPort->Port(), "COM1");
}

// Operations that talk to the unit, against a scripted loader.

class FlashOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        Flash.Device.Port.SetPort(Pty.SlavePath());
        Flash.Device.Port.SetConnected(true);
        Flash.FlashCheckSeed = 0x1234;
        Flash.FlashStart = 0x2000;
        Flash.FlashLength = 0x3E000;
    }

    TestPty Pty;
    THitachiFlash Flash{nullptr, nullptr, nullptr};
};

struct IdentityCase {
    const char* Name;
    std::string Reply;
    Failure Expected;
};

class CheckId : public FlashOnPty, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(CheckId, ComparesSeedStartAndLengthOnly) {
    const IdentityCase& c = GetParam();
    ScriptedPeer peer(Pty, {IdentityStep(c.Reply)});

    EXPECT_EQ(FailureOf([&] { Flash.CheckId(); }), c.Expected);
    EXPECT_EQ(Hex(peer.Finish()), Hex(IdentityRequest));
}

const Failure NoMatch{"EHitachiFlashException", "Flash uP does not match definition"};

INSTANTIATE_TEST_SUITE_P(
    Identities, CheckId,
    ::testing::Values(
        IdentityCase{
            "Matches", IdentityReply(0x1234, 0x2000, 0x3E000, "anything at all"), {"none", ""}},
        IdentityCase{"OtherTextMatchesToo",
                     IdentityReply(0x1234, 0x2000, 0x3E000, std::string(20, '\0')),
                     {"none", ""}},
        IdentityCase{"SeedDiffers", IdentityReply(0x1235, 0x2000, 0x3E000, ""), NoMatch},
        IdentityCase{"StartDiffers", IdentityReply(0x1234, 0x2001, 0x3E000, ""), NoMatch},
        IdentityCase{"LengthDiffers", IdentityReply(0x1234, 0x2000, 0x3E001, ""), NoMatch}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FlashOnPty, EraseCoversTheFlashRegion) {
    ScriptedPeer peer(
        Pty, {{Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BigEndian32(0x2000) + BigEndian32(0x3E000), "$"},
              IdentityStep(IdentityReply(0, 0, 0, ""))});
    Flash.Erase();
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
}

TEST_F(FlashOnPty, ImageOfPartBlocksIsRefusedBeforeAnythingIsSent) {
    TMemoryStream image;
    Fill(image, Pattern(130));
    ScriptedPeer peer(Pty, {});
    const Failure expected{"Exception",
                           "Buffer size is not a multiple of the programming block size"};

    EXPECT_EQ(FailureOf([&] { Flash.ProgramImage(image); }), expected);
    EXPECT_EQ(FailureOf([&] { Flash.VerifyImage(image); }), expected);
    EXPECT_EQ(Hex(peer.Finish()), "");
}

TEST_F(FlashOnPty, ImageIsSentFromTheFlashStart) {
    TMemoryStream image;
    const std::vector<std::uint8_t> bytes = Pattern(128);
    Fill(image, bytes);
    const std::string block(bytes.begin(), bytes.end());
    const std::string zero(1, '\0');
    ScriptedPeer peer(
        Pty, {{Bytes({0x53, 0xE1, 0xA8, 0xD7}) + BigEndian32(0x2000) + BigEndian32(128), ""},
              {block, zero},
              {zero, "\x22"},
              IdentityStep(IdentityReply(0, 0, 0, ""))});
    Flash.VerifyImage(image);
    EXPECT_EQ(Hex(peer.Finish()), Hex(peer.Expected()));
}

TEST_F(FlashOnPty, DisconnectClosesAndIsHarmlessWhenClosed) {
    Flash.Disconnect();
    EXPECT_FALSE(Flash.Device.Port.Connected());
    EXPECT_NO_THROW(Flash.Disconnect());
    EXPECT_FALSE(Flash.Device.Port.Connected());
}

TEST(HitachiFlashConnect, AFailureToOpenPassesThroughUnchanged) {
    THitachiFlash flash(nullptr, nullptr, nullptr);
    THalcotComPort user;
    user.SetPort("/dev/no-such-port-here");
    flash.Configure({ConnectModeUser, false, &user, nullptr});

    const Failure failure = FailureOf([&] { flash.Connect(); });

    EXPECT_EQ(failure.Type, "EComPort");
    EXPECT_EQ(failure.Message.rfind("Unable to open com port", 0), 0u) << failure.Message;
    EXPECT_FALSE(flash.Device.Port.Connected());
}

// Block arithmetic and padding.

TEST(BlockSize, ZeroIsRefusedWhereverABlockSizeDivides) {
    TMemoryStream stream;
    Fill(stream, Pattern(10));
    const Failure zero{"EHitachiFlashException", "Block size must not be zero"};
    EXPECT_EQ(FailureOf([&] { THitachiFlash::CheckBlockMultiple(stream, 0); }), zero);
    EXPECT_EQ(FailureOf([&] { THitachiFlash::PadToBlock(stream, 0); }), zero);
    EXPECT_EQ(stream.Size(), 10);
}

TEST(BlockSize, CheckBlockMultipleAcceptsWholeBlocksAndTheEmptyStream) {
    for (const std::size_t size : {0, 128, 384}) {
        TMemoryStream stream;
        Fill(stream, Pattern(size));
        EXPECT_NO_THROW(THitachiFlash::CheckBlockMultiple(stream, 128)) << size;
    }
}

struct PadCase {
    const char* Name;
    std::size_t Size;
    std::int64_t NewSize;
    std::int64_t SizeAfter;
};

class PadStreamTest : public ::testing::TestWithParam<PadCase> {};

TEST_P(PadStreamTest, ExtendsWithFillBytesToExactlyTheNewSize) {
    const PadCase& c = GetParam();
    TMemoryStream stream;
    const std::vector<std::uint8_t> original = Pattern(c.Size);
    Fill(stream, original);
    stream.SetPosition(1);

    PadStream(stream, c.NewSize, 0xA5);

    std::vector<std::uint8_t> expected = original;
    expected.resize(static_cast<std::size_t>(c.SizeAfter), 0xA5);
    EXPECT_EQ(Contents(stream), expected);
    EXPECT_EQ(stream.Position(), c.SizeAfter > static_cast<std::int64_t>(c.Size) ? c.SizeAfter : 1)
        << "left at the new end; untouched when nothing is written";
}

INSTANTIATE_TEST_SUITE_P(Sizes, PadStreamTest,
                         ::testing::Values(PadCase{"Grows", 130, 256, 256},
                                           PadCase{"FromEmpty", 0, 3, 3},
                                           PadCase{"AlreadyThatSize", 256, 256, 256},
                                           PadCase{"LargerThanAsked", 300, 256, 300}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PadStreamReadOnly, AStreamThatStoresNothingFailsWithTheWriteError) {
    const std::vector<std::uint8_t> memory = Pattern(130);
    TCustomMemoryStream readOnly(memory.data(), 130);
    EXPECT_EQ(FailureOf([&] { PadStream(readOnly, 256, 0xFF); }),
              (Failure{"EWriteError", "Stream write error"}));
}

// CheckImage, by verification mode.

struct CheckImageCase {
    const char* Name;
    std::uint8_t Verification;
    std::uint32_t FlashLength;
    std::uint32_t BlockSize;
    std::vector<std::uint8_t> Image;
    Failure Expected;
    std::int64_t SizeAfter;
};

class CheckImage : public ::testing::TestWithParam<CheckImageCase> {};

TEST_P(CheckImage, TestsTheImageAgainstTheDefinition) {
    const CheckImageCase& c = GetParam();
    THitachiFlash flash(nullptr, nullptr, nullptr);
    flash.FlashVerification = c.Verification;
    flash.FlashLength = c.FlashLength;
    flash.FlashBlockSize = c.BlockSize;
    flash.FlashCheckSeed = 0x0102;
    TMemoryStream stream;
    Fill(stream, c.Image);

    EXPECT_EQ(FailureOf([&] { flash.CheckImage(stream); }), c.Expected);

    std::vector<std::uint8_t> expected = c.Image;
    expected.resize(static_cast<std::size_t>(c.SizeAfter), 0xFF);
    EXPECT_EQ(Contents(stream), expected) << "only mode 0 pads, with 0xFF";
}

const Failure Accepted{"none", ""};
const Failure SizeMismatch{"EFDTException", "Flash Size doesn't match Image Size"};
const Failure SumMismatch{"EFDTException", "Flash and Image Checksums don't match"};

INSTANTIATE_TEST_SUITE_P(
    Modes, CheckImage,
    ::testing::Values(
        CheckImageCase{"PadOnly_PadsToWholeBlocks", 0, 1000, 0, Pattern(130), Accepted, 256},
        CheckImageCase{"PadOnly_WholeBlocksUntouched", 0, 1000, 0, Pattern(256), Accepted, 256},
        CheckImageCase{"PadOnly_ExactlyTheFlashLength", 0, 130, 0, Pattern(130), Accepted, 256},
        CheckImageCase{"PadOnly_LongerThanTheFlash", 0, 129, 0, Pattern(130), SizeMismatch, 130},
        CheckImageCase{"Blocks_SumAtTheImageEnd", 1, 256, 256,
                       WithBlockSum(Pattern(256), 256, 0x0102), Accepted, 256},
        CheckImageCase{"Blocks_LongerThanTheFlash", 1, 255, 256,
                       WithBlockSum(Pattern(256), 256, 0x0102), SizeMismatch, 256},
        CheckImageCase{"Blocks_PartBlock",
                       1,
                       1000,
                       128,
                       Pattern(200),
                       {"EFDTException", "Image size not a multiple of the block size"},
                       200},
        CheckImageCase{"Blocks_SumMismatch", 1, 256, 128, Pattern(256), SumMismatch, 256},
        // The checksum blocks fit, the transfer blocks do not.
        CheckImageCase{"Blocks_NotWholeTransferBlocks",
                       1,
                       1000,
                       64,
                       WithBlockSum(Pattern(192), 192, 0x0102),
                       {"Exception", "Buffer size is not a multiple of the programming block size"},
                       192},
        CheckImageCase{"Blocks_ZeroBlockSize",
                       1,
                       1000,
                       0,
                       Pattern(256),
                       {"EHitachiFlashException", "Block size must not be zero"},
                       256},
        CheckImageCase{"Whole_Matches", 2, 256, 0, WithBlockSum(Pattern(256), 256, 0x0102),
                       Accepted, 256},
        CheckImageCase{"Whole_ShorterThanTheFlash", 2, 384, 0,
                       WithBlockSum(Pattern(256), 256, 0x0102), SizeMismatch, 256},
        CheckImageCase{"Whole_SumMismatch", 2, 256, 0, Pattern(256), SumMismatch, 256},
        CheckImageCase{"OtherMode_AcceptsAnything", 3, 10, 0, Pattern(300), Accepted, 300}),
    [](const auto& info) { return std::string(info.param.Name); });
