// Each fault as the host sees it on the wire, and the fault names.
#include "platform/exceptions.h"
#include "sim/unit.h"
#include "tests/sim/host.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

// Where a row looks at the wire; each step runs the session up to it and says what came.
enum class Step {
    UserConnect,  // the reply to the user connect string
    BootAttempts, // the replies to four boot strings, "|"-separated (the user resets after 3)
    Register,     // the reply to the switch request
    Ack,          // the "ABCDE" echo
    Identity,     // the identity reply
    IdentityTail, // sizes of the identity reply and of what follows it, "30+0"
    IdentityTime, // "slow" for a reply between 300 and 500 ms, "fast" under 100 ms
    Erase,        // the erase reply
    Program,      // block replies "|" final reply, then "|hangup" if the line went
};

std::string Observe(Step step, ScriptedHost& host) {
    if (step == Step::UserConnect)
        return host.Transact(Wire::UserConnect, 8, 1000ms);
    if (step == Step::BootAttempts) {
        std::string replies;
        for (int attempt = 1; attempt <= 4; ++attempt)
            replies += (attempt > 1 ? "|" : "") + host.Transact(Wire::BootConnect, 8, 100ms);
        return replies;
    }
    if (host.Transact(Wire::UserConnect, 8, 1000ms) != Wire::Response)
        return "no connect";
    if (step == Step::Register)
        return SwitchSpeed(host, 9600, HostLine{}, 103).Register;
    const std::string echo = SwitchSpeed(host, 9600, HostLine{}, 103).Echo;
    if (step == Step::Ack)
        return echo;
    switch (step) {
    case Step::Identity:
        return RequestIdentity(host);
    case Step::IdentityTail: {
        const std::string reply = RequestIdentity(host);
        return std::to_string(reply.size()) + "+" + std::to_string(host.Read(64, 200ms).size());
    }
    case Step::IdentityTime: {
        const auto begin = std::chrono::steady_clock::now();
        const std::string reply = RequestIdentity(host);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - begin)
                            .count();
        if (reply.size() != 30)
            return "no reply";
        return ms >= 300 && ms < 500 ? "slow" : ms < 100 ? "fast" : std::to_string(ms) + " ms";
    }
    case Step::Erase:
        return RequestErase(host, 0x2000, 0x3E000, 700ms);
    case Step::Program: {
        const TransferReplies replies =
            RunTransfer(host, Wire::Program, 0x2000, MakeImage(384), 700ms);
        return replies.Blocks + "|" + replies.Final + (host.HungUp() ? "|hangup" : "");
    }
    default:
        return "unknown step";
    }
}

struct FaultCase {
    const char* Fault; // empty: none, to show what the step gives without it
    Step At;
    std::string Expected;
};

void PrintTo(const FaultCase& row, std::ostream* out) {
    *out << (*row.Fault != '\0' ? row.Fault : "no fault");
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, AppearsOnTheWireAsNamed) {
    const FaultCase& row = GetParam();
    SimConfig config;
    if (*row.Fault != '\0')
        config.Faults.push_back(ParseSimFault(row.Fault));
    if (row.At == Step::BootAttempts)
        config.ResetAfter = 3;
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), HostLine{});
    EXPECT_EQ(Observe(row.At, host), row.Expected);
}

std::string RowName(const ::testing::TestParamInfo<FaultCase>& info) {
    std::string name = *info.param.Fault != '\0' ? info.param.Fault : "none";
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, FaultTest,
    ::testing::Values(
        FaultCase{"", Step::UserConnect, Wire::Response},
        FaultCase{"no-reply", Step::UserConnect, ""},
        FaultCase{"wrong-reply", Step::UserConnect, "TeMoKPaz"},
        FaultCase{"", Step::BootAttempts, "|||TeMoKPaZ"},
        FaultCase{"wrong-boot-reply@2", Step::BootAttempts, "|TeMoKPaz||TeMoKPaZ"},
        FaultCase{"", Step::Register, "\x67"}, FaultCase{"no-baud-register", Step::Register, ""},
        FaultCase{"", Step::Ack, "ABCDE"}, FaultCase{"bad-ack", Step::Ack, "ABCDD"},
        FaultCase{"no-ack", Step::Ack, ""}, FaultCase{"id-timeout", Step::Identity, ""},
        FaultCase{"", Step::Erase, "$"}, FaultCase{"erase-fail", Step::Erase, "%"},
        FaultCase{"erase-unexpected", Step::Erase, "?"},
        FaultCase{"erase-timeout", Step::Erase, ""}, FaultCase{"", Step::Program, "\0\0\0|\x22"s},
        FaultCase{"block-fail@2", Step::Program, "\0#|"s},
        FaultCase{"block-unexpected@2", Step::Program, "\0\x22|"s},
        FaultCase{"block-timeout@2", Step::Program, "\0|"s},
        FaultCase{"final-fail", Step::Program, "\0\0\0|#"s},
        FaultCase{"final-unexpected", Step::Program, "\0\0\0|\0"s},
        FaultCase{"hangup@1", Step::Program, "\0||hangup"s},
        FaultCase{"", Step::IdentityTail, "30+0"}, FaultCase{"noise", Step::IdentityTail, "30+4"},
        FaultCase{"extra-reply-bytes", Step::IdentityTail, "30+3"},
        FaultCase{"", Step::IdentityTime, "fast"},
        FaultCase{"slow-reply", Step::IdentityTime, "slow"}),
    RowName);

TEST(FaultParser, ReadsNamesAndOccurrences) {
    struct Case {
        const char* Text;
        SimFaultKind Kind;
        std::optional<int> At;
    };
    const Case cases[] = {
        {"block-fail@3", SimFaultKind::BlockFail, 3},
        {"wrong-boot-reply@12", SimFaultKind::WrongBootReply, 12},
        {"hangup", SimFaultKind::Hangup, std::nullopt},
        {"slow-reply", SimFaultKind::SlowReply, std::nullopt},
    };
    for (const Case& c : cases) {
        const SimFault fault = ParseSimFault(c.Text);
        EXPECT_EQ(fault.Kind, c.Kind) << c.Text;
        EXPECT_EQ(fault.At, c.At) << c.Text;
        EXPECT_EQ(SimFaultName(fault.Kind) + (fault.At ? "@" + std::to_string(*fault.At) : ""),
                  c.Text);
    }
}

TEST(FaultParser, RefusesWhatItCannotRead) {
    const char* const cases[] = {
        "bogus", "block-fail@0", "block-fail@", "block-fail@3x", "block-fail@-1", "noise@2", "",
        "@3"};
    for (const char* text : cases)
        EXPECT_THROW(ParseSimFault(text), Exception) << text;
}

TEST(FaultOccurrence, AppliesOnlyToTheNamedOccurrence) {
    SimConfig config;
    config.Faults = {ParseSimFault("id-timeout@2"), ParseSimFault("erase-fail@1")};
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), HostLine{});
    ASSERT_TRUE(ConnectAtDefaults(host));
    EXPECT_EQ(RequestIdentity(host).size(), 30u);
    EXPECT_EQ(RequestIdentity(host), "");
    EXPECT_EQ(RequestIdentity(host).size(), 30u);
    EXPECT_EQ(RequestErase(host, 0x2000, 0x100), "%");
    EXPECT_EQ(RequestErase(host, 0x2000, 0x100), "$");
}

TEST(FaultOccurrence, TrailingBytesNeverReachTheNextReply) {
    SimConfig config;
    config.Faults = {ParseSimFault("noise"), ParseSimFault("extra-reply-bytes")};
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), HostLine{});
    ASSERT_TRUE(ConnectAtDefaults(host));
    // Back to back, as the keep-alive and the transfer run them: each discard must catch them.
    const std::string expected = RequestIdentity(host);
    ASSERT_EQ(expected.size(), 30u);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(RequestIdentity(host), expected) << "request " << i;
}

} // namespace
