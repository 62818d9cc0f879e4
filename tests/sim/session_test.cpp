// Whole sessions against the simulated unit, the line-settings check and wire timing.
#include "sim/unit.h"
#include "tests/sim/host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace std::string_literals;

namespace {

std::uint32_t BigEndianAt(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("dv_sim_" + std::to_string(getpid()) + "_" + name);
}

struct SessionCase {
    const char* Name;
    bool Boot; // the firmware ignores the user string; the user resets after 3 boot strings
    SimSerialSettings Connect;
    SimSerialSettings Program;
    HostLine ConnectLine;
    HostLine ProgramLine;
    std::uint8_t Register;
    std::uint8_t NewRegister; // the scaled value the host must send
};

// Rows print as their names in test output.
void PrintTo(const SessionCase& row, std::ostream* out) {
    *out << row.Name;
}

class SessionTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionTest, ProgramsTheImageAndStartsIt) {
    const SessionCase& row = GetParam();
    SimConfig config;
    config.FlashStart = 0x1000;
    config.FlashLength = 0x800;
    config.CheckSeed = 0xBEEF;
    config.IdText = "unit under test";
    config.FlashContents.assign(0x600, 0x00); // old contents that the erase must clear
    config.BaudRegister = row.Register;
    config.Connect = row.Connect;
    config.Program = row.Program;
    config.NoUserMethod = row.Boot;
    if (row.Boot)
        config.ResetAfter = 3;
    config.TracePath = TempPath(std::string(row.Name) + ".trace").string();
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), row.ConnectLine);

    if (!row.Boot) {
        ASSERT_EQ(host.Transact(Wire::UserConnect, 8, 1000ms), Wire::Response);
    } else {
        EXPECT_EQ(host.Transact(Wire::UserConnect, 8, 300ms), "");
        int attempts = 0;
        std::string reply;
        while (reply != Wire::Response && attempts < 10) {
            reply = host.Transact(Wire::BootConnect, 8, 100ms);
            ++attempts;
        }
        ASSERT_EQ(reply, Wire::Response);
        EXPECT_EQ(attempts, 4);
    }
    const SwitchReplies switched =
        SwitchSpeed(host, row.ConnectLine.BitsPerSecond, row.ProgramLine, row.NewRegister);
    ASSERT_EQ(switched.Register, std::string(1, static_cast<char>(row.Register)));
    ASSERT_EQ(switched.Echo, Wire::Ack);

    const std::string id = RequestIdentity(host);
    ASSERT_EQ(id.size(), 30u);
    EXPECT_EQ(BigEndianAt(id, 0, 2), 0xBEEFu);
    EXPECT_EQ(BigEndianAt(id, 2, 4), 0x1000u);
    EXPECT_EQ(BigEndianAt(id, 6, 4), 0x800u);
    EXPECT_EQ(id.substr(10), "unit under test\0\0\0\0\0"s);

    EXPECT_EQ(RequestErase(host, 0x1000, 0x800), "$");
    const std::string image = MakeImage(384);
    const TransferReplies programmed = RunTransfer(host, Wire::Program, 0x1000, image);
    EXPECT_EQ(programmed.Blocks, "\0\0\0"s);
    EXPECT_EQ(programmed.Final, "\x22");
    const TransferReplies verified = RunTransfer(host, Wire::Verify, 0x1000, image);
    EXPECT_EQ(verified.Blocks, "\0\0\0"s);
    EXPECT_EQ(verified.Final, "\x22");
    host.Send(Wire::Run);
    ASSERT_TRUE(unit.WaitFor([](const SimStatus& s) { return s.Runs == 1; }, 2000ms));

    std::vector<std::uint8_t> expected(0x800, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    EXPECT_EQ(unit.Flash(), expected);
    const SimStatus status = unit.Status();
    EXPECT_EQ(status.State, SimUnitState::FirmwareRunning);
    EXPECT_EQ(status.Erases, 1);
    EXPECT_EQ(status.Programs, 1);
    EXPECT_EQ(status.Verifies, 1);
    EXPECT_EQ(status.IgnoredBytes, 0);

    // The new firmware runs at the connect settings again.
    host.Reopen(row.ConnectLine);
    EXPECT_EQ(host.Transact(row.Boot ? Wire::BootConnect : Wire::UserConnect, 8, 300ms),
              row.Boot ? "" : Wire::Response);

    unit.Stop();
    std::ifstream file(config.TracePath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    EXPECT_EQ(lines, unit.Trace());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find(" run: ") != std::string::npos;
    }));
    std::filesystem::remove(config.TracePath);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SessionTest,
    ::testing::Values(
        SessionCase{"UserMethodDefaults", false, {}, {}, {9600, false}, {9600, false}, 103, 103},
        SessionCase{"BootMethodToFasterLineWithTwoStopBits",
                    true,
                    {},
                    {br57600, dbEight, sbTwoStopBits, prNone},
                    {9600, false},
                    {57600, true},
                    103,
                    17},
        SessionCase{"CustomSpeeds",
                    false,
                    {br14400, dbEight, sbOneStopBit, prNone},
                    {br56000, dbEight, sbOneStopBit, prNone},
                    {14400, false},
                    {56000, false},
                    105,
                    27}),
    [](const auto& info) { return std::string(info.param.Name); });

// A unit connected at the default settings, for the loader's own answers.
class ConnectedUnitTest : public ::testing::Test {
protected:
    void SetUp() override {
        FConfig.FlashStart = 0x2000;
        FConfig.FlashLength = 0x400;
        FUnit = std::make_unique<SimulatedUnit>(FConfig);
        FUnit->Start();
        FHost = std::make_unique<ScriptedHost>(FUnit->SlavePath(), HostLine{});
        ASSERT_TRUE(ConnectAtDefaults(*FHost));
    }

    SimConfig FConfig;
    std::unique_ptr<SimulatedUnit> FUnit;
    std::unique_ptr<ScriptedHost> FHost;
};

TEST_F(ConnectedUnitTest, RefusesWhatLiesOutsideTheFlashAndFlashThatDiffers) {
    struct Case {
        const char* Name;
        std::function<std::string(ScriptedHost&)> Exchange;
        std::string Expected;
    };
    const std::string image = MakeImage(256);
    const Case cases[] = {
        {"erase past the end", [](ScriptedHost& h) { return RequestErase(h, 0x2000, 0x401); }, "%"},
        {"erase below the start", [](ScriptedHost& h) { return RequestErase(h, 0x1FFF, 0x10); },
         "%"},
        {"erase that wraps around", [](ScriptedHost& h) { return RequestErase(h, 0x2100, ~0u); },
         "%"},
        {"second block past the end",
         [&](ScriptedHost& h) {
             const TransferReplies r = RunTransfer(h, Wire::Program, 0x2380, image);
             return r.Blocks + "|" + r.Final;
         },
         "\0#|"s},
        {"empty transfer",
         [](ScriptedHost& h) {
             const TransferReplies r = RunTransfer(h, Wire::Program, 0x2000, "");
             return r.Blocks + "|" + r.Final;
         },
         "|\x22"},
        {"verify against an erased flash",
         [&](ScriptedHost& h) {
             const TransferReplies r = RunTransfer(h, Wire::Verify, 0x2000, image);
             return r.Blocks + "|" + r.Final;
         },
         "#|"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.Exchange(*FHost), c.Expected) << c.Name;
        // The loader takes commands again after each refusal.
        EXPECT_EQ(RequestIdentity(*FHost).size(), 30u) << c.Name;
    }
}

TEST_F(ConnectedUnitTest, VerifyReportsTheBlockThatDiffers) {
    const std::string image = MakeImage(384);
    ASSERT_EQ(RunTransfer(*FHost, Wire::Program, 0x2000, image).Final, "\x22");
    std::string changed = image;
    changed[300] = static_cast<char>(changed[300] ^ 0x01);
    const TransferReplies verified = RunTransfer(*FHost, Wire::Verify, 0x2000, changed);
    EXPECT_EQ(verified.Blocks, "\0\0#"s);
    EXPECT_EQ(verified.Final, "");
}

TEST_F(ConnectedUnitTest, AnAbortEndsTheTransferAfterTheBlockInProgress) {
    const std::string image = MakeImage(384);
    FHost->Send(Wire::Program);
    FHost->Send(Wire::BigEndian(0x2000));
    FHost->Send(Wire::BigEndian(384));
    ASSERT_EQ(FHost->Transact(image.substr(0, 128), 1, 1000ms), "\0"s);
    EXPECT_EQ(FHost->Transact("\xFF", 1, 1000ms), "\x22");
    EXPECT_EQ(RequestIdentity(*FHost).size(), 30u);
    const std::vector<std::uint8_t> flash = FUnit->Flash();
    EXPECT_TRUE(
        std::equal(image.begin(), image.begin() + 128, flash.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    EXPECT_EQ(flash[128], 0xFF);
    EXPECT_EQ(FUnit->Status().Programs, 0);
}

TEST_F(ConnectedUnitTest, ProgrammingWithoutEraseOnlyClearsBits) {
    const std::string first(128, '\x0F');
    const std::string second(128, '\xF3');
    ASSERT_EQ(RunTransfer(*FHost, Wire::Program, 0x2000, first).Final, "\x22");
    ASSERT_EQ(RunTransfer(*FHost, Wire::Program, 0x2000, second).Final, "\x22");
    EXPECT_EQ(FUnit->Flash()[0], 0x03);
    EXPECT_EQ(RunTransfer(*FHost, Wire::Verify, 0x2000, second).Blocks, "#");
}

// The unit answers only at the settings the host should use at that point.
struct LineCase {
    const char* Name;
    HostLine Line;
    bool Lenient;
    bool Answered;
};

void PrintTo(const LineCase& row, std::ostream* out) {
    *out << row.Name;
}

class LineCheckTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineCheckTest, UserConnectIsAnsweredOnlyAtTheConnectSettings) {
    const LineCase& row = GetParam();
    SimConfig config;
    config.LenientLine = row.Lenient;
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), row.Line);
    EXPECT_EQ(host.Transact(Wire::UserConnect, 8, 500ms), row.Answered ? Wire::Response : "");
    EXPECT_EQ(unit.Status().IgnoredBytes, row.Answered ? 0 : 8);
    if (!row.Answered) {
        // Nothing heard at the wrong settings is held over: the right ones get a fresh answer.
        host.SetLine(HostLine{});
        EXPECT_EQ(host.Transact(Wire::UserConnect, 8, 500ms), Wire::Response);
    }
}

INSTANTIATE_TEST_SUITE_P(Sim, LineCheckTest,
                         ::testing::Values(LineCase{"RightSettings", {9600, false}, false, true},
                                           LineCase{"WrongSpeed", {19200, false}, false, false},
                                           LineCase{"TwoStopBits", {9600, true}, false, false},
                                           LineCase{
                                               "WrongSpeedLenient", {19200, false}, true, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

class SwitchLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        FConfig.Program.BaudRate = br57600;
        FUnit = std::make_unique<SimulatedUnit>(FConfig);
        FUnit->Start();
        FHost = std::make_unique<ScriptedHost>(FUnit->SlavePath(), HostLine{});
        ASSERT_EQ(FHost->Transact(Wire::UserConnect, 8, 1000ms), Wire::Response);
        ASSERT_EQ(FHost->Transact(Wire::SwitchRequest, 1, 500ms), "\x67");
    }

    SimConfig FConfig;
    std::unique_ptr<SimulatedUnit> FUnit;
    std::unique_ptr<ScriptedHost> FHost;
};

TEST_F(SwitchLineTest, EchoComesOnlyAtTheProgrammingSpeed) {
    FHost->Send("\x11");
    EXPECT_EQ(FHost->Transact(Wire::Ack, 5, 500ms), ""); // still at 9600
    FHost->Reopen({57600, false});
    EXPECT_EQ(FHost->Transact(Wire::Ack, 5, 500ms), Wire::Ack);
    EXPECT_EQ(RequestIdentity(*FHost).size(), 30u);
}

TEST_F(SwitchLineTest, AWrongRegisterValueLeavesTheUnitDeaf) {
    FHost->Send("\x12"); // 103 * 9600 / 57600 is 17
    FHost->Reopen({57600, false});
    EXPECT_EQ(FHost->Transact(Wire::Ack, 5, 500ms), "");
    EXPECT_EQ(RequestIdentity(*FHost, 300ms), "");
    EXPECT_FALSE(FUnit->Status().LineSwitched);
}

// With wire timing a transfer takes as long as its characters need on the line.
struct TimingCase {
    const char* Name;
    bool WireTiming;
    SimSerialSettings Program;
    HostLine ProgramLine;
    double BitsPerCharacter;
};

void PrintTo(const TimingCase& row, std::ostream* out) {
    *out << row.Name;
}

class WireTimingTest : public ::testing::TestWithParam<TimingCase> {};

TEST_P(WireTimingTest, TransferTakesTheTimeOfItsCharacters) {
    const TimingCase& row = GetParam();
    SimConfig config;
    config.WireTiming = row.WireTiming;
    config.Program = row.Program;
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), HostLine{});
    ASSERT_EQ(host.Transact(Wire::UserConnect, 8, 1000ms), Wire::Response);
    ASSERT_EQ(SwitchSpeed(host, 9600, row.ProgramLine, 103).Echo, Wire::Ack);

    const std::string image = MakeImage(384);
    const auto begin = std::chrono::steady_clock::now();
    const TransferReplies replies = RunTransfer(host, Wire::Program, 0x2000, image);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    ASSERT_EQ(replies.Final, "\x22");
    // The host's own 100 ms pause, then 384 image bytes and 4 replies on the line.
    const double lineMs = (384 + 4) * row.BitsPerCharacter * 1000.0 / 9600;
    const double elapsedMs = std::chrono::duration<double, std::milli>(elapsed).count();
    if (row.WireTiming) {
        EXPECT_GE(elapsedMs, 100 + lineMs);
        EXPECT_LT(elapsedMs, 100 + lineMs + 1000);
    } else {
        EXPECT_LT(elapsedMs, 100 + 300);
    }
}

INSTANTIATE_TEST_SUITE_P(Sim, WireTimingTest,
                         ::testing::Values(TimingCase{"Off", false, {}, {9600, false}, 10},
                                           TimingCase{"EightNoneOne", true, {}, {9600, false}, 10},
                                           TimingCase{"EightEvenTwo",
                                                      true,
                                                      {br9600, dbEight, sbTwoStopBits, prEven},
                                                      {9600, true},
                                                      12}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
