// Whole programming runs through the flash target against the simulated unit.
#include "target/h83664.h"

#include "package/exist_ms.h"
#include "platform/streams.h"
#include "sim/unit.h"
#include "tests/loader/fixture.h"
#include "tests/target/images.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;

namespace {

SimConfig UnitConfig() {
    SimConfig config;
    config.FlashStart = 0x2000;
    config.FlashLength = 0x1000;
    config.CheckSeed = 0x0102;
    config.Program.BaudRate = br57600;
    // Old firmware everywhere: the erase must clear what the image does not cover.
    config.FlashContents = std::vector<std::uint8_t>(0x1000, 0x00);
    return config;
}

// What ApplyTo would copy from the unit's release.
void Define(THitachiFlash& flash, const SimConfig& config) {
    flash.FlashStart = config.FlashStart;
    flash.FlashLength = config.FlashLength;
    flash.FlashCheckSeed = config.CheckSeed;
    THalcotComPort& connect = *flash.ConnectionInfo.ConnectPort;
    THalcotComPort& program = *flash.ConnectionInfo.ProgramPort;
    connect.SetBaudRate(config.Connect.BaudRate);
    program.SetBaudRate(config.Program.BaudRate);
    program.SetDataBits(config.Program.DataBits);
    program.SetStopBits(config.Program.StopBits);
}

// The flash region as it must be after a run: the image, then erased bytes.
std::vector<std::uint8_t> FlashAfter(std::vector<std::uint8_t> image, std::size_t flashLength) {
    image.resize(flashLength, 0xFF);
    return image;
}

void ProgramRun(THitachiFlash& flash, TStream& image) {
    flash.Erase();
    flash.ProgramImage(image);
    flash.VerifyImage(image);
    flash.Run();
}

} // namespace

class WholeRun : public ::testing::Test {
protected:
    void StartUnit(const SimConfig& config) {
        Unit = std::make_unique<SimulatedUnit>(config);
        Unit->Start();
        UserPort.SetPort(Unit->SlavePath());
        Define(Flash, config);
    }

    RecordingPrompt* Prompt = new RecordingPrompt;
    TLabel Status;
    TProgressBar Bar;
    THitachiFlash Flash{nullptr, &Status, &Bar, std::unique_ptr<TUserPrompt>(Prompt)};
    THalcotComPort UserPort;
    std::unique_ptr<SimulatedUnit> Unit;
};

TEST_F(WholeRun, UserMethodProgramsVerifiesAndStartsTheImage) {
    StartUnit(UnitConfig());
    const std::vector<std::uint8_t> image = Pattern(1024);
    TExistingMemoryStream stream(image.data(), static_cast<std::int64_t>(image.size()));

    Flash.Configure({ConnectModeUser, false, &UserPort, nullptr});
    Flash.Connect();
    EXPECT_EQ(Flash.Device.Port.BaudRate(), br57600);
    ProgramRun(Flash, stream);
    Flash.Disconnect();

    ASSERT_TRUE(Unit->WaitFor([](const SimStatus& s) { return s.Runs == 1; }, 2s));
    EXPECT_EQ(Unit->Flash(), FlashAfter(image, 0x1000));
    const SimStatus status = Unit->Status();
    EXPECT_EQ(status.UserConnects, 1);
    EXPECT_EQ(status.BootAttempts, 0);
    EXPECT_EQ(status.Switches, 1);
    EXPECT_EQ(status.Erases, 1);
    EXPECT_EQ(status.Programs, 1);
    EXPECT_EQ(status.Verifies, 1);
    EXPECT_EQ(status.Error, "");
    EXPECT_EQ(Status.Caption(), "Verifying FLASH...");
    EXPECT_EQ(Bar.Position(), 1024);
    EXPECT_FALSE(Flash.Device.Port.Connected());
    EXPECT_TRUE(Prompt->Shown.empty());
}

TEST_F(WholeRun, BootMethodAfterTheUserMethodFailed) {
    SimConfig config = UnitConfig();
    config.NoUserMethod = true;
    config.ResetAfter = 3;
    StartUnit(config);
    const std::vector<std::uint8_t> image = Pattern(512);
    TExistingMemoryStream stream(image.data(), 512);

    Flash.Configure({ConnectModeUser, false, &UserPort, nullptr});
    EXPECT_EQ(FailureOf([&] { Flash.Connect(); }),
              (Failure{"EFDTException", "No reply to start command"}));
    EXPECT_TRUE(Flash.Device.Port.Connected()) << "the caller closes the port";
    Flash.Disconnect();

    Flash.Configure({ConnectModeBoot, false, &UserPort, nullptr});
    Flash.Connect();
    ProgramRun(Flash, stream);
    Flash.Disconnect();

    ASSERT_TRUE(Unit->WaitFor([](const SimStatus& s) { return s.Runs == 1; }, 2s));
    EXPECT_EQ(Unit->Flash(), FlashAfter(image, 0x1000));
    EXPECT_EQ(Unit->Status().BootConnects, 1);
    EXPECT_EQ(Unit->Status().UserConnects, 0);
    EXPECT_EQ(Prompt->Shown, std::vector<std::string>{"Reset the Unit"});
    EXPECT_EQ(Prompt->Hidden, 1);
}

TEST_F(WholeRun, CancelDuringTheBootAttemptsEndsTheConnect) {
    StartUnit(UnitConfig()); // the user never resets the unit
    Flash.Configure({ConnectModeBoot, false, &UserPort, nullptr});
    // The click arrives as an event, handled between attempts.
    QTimer::singleShot(350, [this] { Prompt->Cancel(); });

    const auto start = std::chrono::steady_clock::now();
    const Failure failure = FailureOf([&] { Flash.Connect(); });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    Flash.Disconnect();

    EXPECT_EQ(failure, (Failure{"EFDTException", "Connect Cancelled by User"}));
    EXPECT_LT(elapsed, 3s);
    EXPECT_EQ(Prompt->Hidden, 1);
    // No attempt after the one in progress when the cancel was seen.
    const int asked = Prompt->CancelledCalls;
    EXPECT_GE(asked, 2);
    EXPECT_TRUE(Unit->WaitFor([asked](const SimStatus& s) { return s.BootAttempts == asked; }, 1s))
        << "the unit heard " << Unit->Status().BootAttempts << " attempts for " << asked
        << " looks at the prompt";
    EXPECT_EQ(Unit->Status().BootConnects, 0);
    EXPECT_FALSE(Flash.Device.Port.Connected());
}

TEST_F(WholeRun, UnitOfAnotherDefinitionIsRefusedAtConnect) {
    SimConfig config = UnitConfig();
    StartUnit(config);
    Flash.FlashCheckSeed = 0x0103;
    Flash.Configure({ConnectModeUser, false, &UserPort, nullptr});

    EXPECT_EQ(FailureOf([&] { Flash.Connect(); }),
              (Failure{"EHitachiFlashException", "Flash uP does not match definition"}));
    Flash.Disconnect();
    EXPECT_EQ(Unit->Status().Erases, 0);
}

// An image tested (and in mode 0 padded) by CheckImage, then programmed.

struct CheckedRunCase {
    const char* Name;
    std::uint8_t Verification;
    std::uint32_t BlockSize;
    std::vector<std::uint8_t> Image;
    std::size_t SentSize;
};

class CheckedRun : public WholeRun, public ::testing::WithParamInterface<CheckedRunCase> {};

TEST_P(CheckedRun, TheUnitsFlashEqualsTheCheckedImage) {
    const CheckedRunCase& c = GetParam();
    StartUnit(UnitConfig());
    Flash.FlashVerification = c.Verification;
    Flash.FlashBlockSize = c.BlockSize;
    TMemoryStream stream;
    stream.WriteBuffer(c.Image.data(), static_cast<std::int64_t>(c.Image.size()));

    Flash.CheckImage(stream);
    ASSERT_EQ(stream.Size(), static_cast<std::int64_t>(c.SentSize));
    Flash.Configure({ConnectModeUser, false, &UserPort, nullptr});
    Flash.Connect();
    ProgramRun(Flash, stream);
    Flash.Disconnect();

    ASSERT_TRUE(Unit->WaitFor([](const SimStatus& s) { return s.Runs == 1; }, 2s));
    EXPECT_EQ(Unit->Flash(), FlashAfter(c.Image, 0x1000));
    EXPECT_EQ(Unit->Status().Verifies, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CheckedRun,
    ::testing::Values(CheckedRunCase{"PadOnly", 0, 0, Pattern(130), 256},
                      CheckedRunCase{"BlockChecksums", 1, 512,
                                     WithBlockSum(Pattern(1024), 512, 0x0102), 1024},
                      CheckedRunCase{"WholeImageChecksum", 2, 0,
                                     WithBlockSum(Pattern(0x1000), 0x1000, 0x0102), 0x1000}),
    [](const auto& info) { return std::string(info.param.Name); });
