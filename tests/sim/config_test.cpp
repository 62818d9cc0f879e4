// The unit's configuration: its own decoding of the connect strings, refused settings, and the
// definition taken from a package block.
#include "package/layout.h"
#include "package/storeexe.h"
#include "platform/exceptions.h"
#include "sim/escapes.h"
#include "sim/unit.h"
#include "tests/sim/host.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace std::string_literals;

namespace {

TEST(ConnectStringDecoding, TurnsEscapesIntoBytes) {
    struct Case {
        const char* Text;
        std::string Bytes;
    };
    const Case cases[] = {
        {"%02QD7315%03", "\x02QD7315\x03"},
        {"%4a%4AJ", "JJJ"},
        {"A%00B", "A\0B"s},
        {"%2541", "%41"}, // an escaped "%" starts nothing
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeConnectString(c.Text), c.Bytes) << c.Text;
}

TEST(ConnectStringDecoding, RefusesAPercentWithoutTwoDigits) {
    for (const char* text : {"AB%", "AB%4", "%G1", "%1G", "%%41"})
        EXPECT_THROW(DecodeConnectString(text), EConvertError) << text;
}

TEST(UnitConfiguration, RefusesWhatTheUnitCannotBe) {
    struct Case {
        const char* Name;
        void (*Change)(SimConfig&);
        const char* MessagePart;
    };
    const Case cases[] = {
        {"identity text of 21 bytes", [](SimConfig& c) { c.IdText = std::string(21, 'x'); },
         "longer than 20"},
        {"contents larger than the flash",
         [](SimConfig& c) {
             c.FlashLength = 16;
             c.FlashContents.assign(17, 0);
         },
         "do not fit"},
        {"flash too large to hold", [](SimConfig& c) { c.FlashLength = 0xFFFFFFFF; },
         "more than the simulated unit holds"},
        {"bad connect string", [](SimConfig& c) { c.UserConnect = "%0"; }, "%0"},
        {"baud index past the table",
         [](SimConfig& c) { c.Program.BaudRate = static_cast<TBaudRate>(16); }, "baud-rate index"},
        {"link over a plain file", [](SimConfig& c) { c.LinkPath = "/proc/version"; },
         "is no symlink"},
    };
    for (const Case& c : cases) {
        SimConfig config;
        c.Change(config);
        try {
            SimulatedUnit unit(config);
            ADD_FAILURE() << c.Name << ": accepted";
        } catch (const Exception& error) {
            EXPECT_NE(error.Message().find(c.MessagePart), std::string::npos)
                << c.Name << ": " << error.Message();
        }
    }
}

// A package block built in place, with a correct checksum.
class PackageBlock {
public:
    PackageBlock() : FBlock(PackageLayout::BlockSize, 0) {
        U32(PackageLayout::StructureVersion, 2);
        const std::uint32_t connect[] = {br115200, dbEight, sbTwoStopBits, prNone};
        const std::uint32_t program[] = {br256000, dbSeven, sbOneStopBit, prEven};
        for (int i = 0; i < 4; ++i) {
            U32(PackageLayout::ComConnect + 4 * std::size_t(i), connect[i]);
            U32(PackageLayout::ComProgram + 4 * std::size_t(i), program[i]);
        }
        Text(PackageLayout::BootConnect, "WAKE%0D");
        Text(PackageLayout::UserConnect, "%02GO%03");
        Text(PackageLayout::ConnectResponse, "OK");
        U32(PackageLayout::FlashStart, 0x4000);
        U32(PackageLayout::FlashLength, 0x1000);
        Payload()[PackageLayout::FlashCheckSeed] = 0xEF;
        Payload()[PackageLayout::FlashCheckSeed + 1] = 0xBE;
        Seal();
    }

    std::uint8_t* Payload() { return FBlock.data() + PackageLayout::PayloadOffset; }
    void Seal() {
        const std::uint32_t sum = PayloadChecksum(Payload());
        std::memcpy(FBlock.data() + PackageLayout::ChecksumOffset, &sum, 4);
    }
    const std::vector<std::uint8_t>& Bytes() const { return FBlock; }

private:
    void U32(std::size_t offset, std::uint32_t value) {
        std::memcpy(Payload() + offset, &value, 4);
    }
    void Text(std::size_t offset, const char* text) {
        std::memcpy(Payload() + offset, text, std::strlen(text));
    }

    std::vector<std::uint8_t> FBlock;
};

TEST(UnitConfiguration, TakesTheDefinitionFromAPackage) {
    SimConfig config;
    config.LoadRelease(PackageBlock().Bytes());
    EXPECT_EQ(config.FlashStart, 0x4000u);
    EXPECT_EQ(config.FlashLength, 0x1000u);
    EXPECT_EQ(config.CheckSeed, 0xBEEF);
    EXPECT_EQ(config.Connect, (SimSerialSettings{br115200, dbEight, sbTwoStopBits, prNone}));
    EXPECT_EQ(config.Program, (SimSerialSettings{br256000, dbSeven, sbOneStopBit, prEven}));
    EXPECT_EQ(config.BootConnect, "WAKE%0D");
    EXPECT_EQ(config.UserConnect, "%02GO%03");
    EXPECT_EQ(config.ConnectResponse, "OK");

    // The unit then answers the package's strings at the package's settings.
    SimulatedUnit unit(config);
    unit.Start();
    ScriptedHost host(unit.SlavePath(), HostLine{115200, true});
    EXPECT_EQ(host.Transact("\x02GO\x03", 2, 1000ms), "OK");
}

TEST(UnitConfiguration, RefusesADamagedOrShortPackage) {
    PackageBlock damaged;
    damaged.Payload()[PackageLayout::FlashStart] ^= 1;
    SimConfig config;
    EXPECT_THROW(config.LoadRelease(damaged.Bytes()), EStoredDataError);
    std::vector<std::uint8_t> shortBlock = PackageBlock().Bytes();
    shortBlock.pop_back();
    EXPECT_THROW(config.LoadRelease(shortBlock), EStoredDataError);
    PackageBlock version3;
    version3.Payload()[PackageLayout::StructureVersion] = 3;
    version3.Seal();
    EXPECT_THROW(config.LoadRelease(version3.Bytes()), Exception);
    EXPECT_EQ(config.FlashStart, SimConfig().FlashStart); // nothing taken from a refused block
}

} // namespace
