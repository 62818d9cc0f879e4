// The package check before any traffic: a bad package ends the run at once.
#include "tests/cli/cli_process.h"

#include "package/layout.h"
#include "package/release_file.h"
#include "package/storeexe.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Block = std::vector<std::uint8_t>;

void StoreChecksum(Block& block) {
    const std::uint32_t sum = PayloadChecksum(block.data() + PackageLayout::PayloadOffset);
    std::memcpy(block.data() + PackageLayout::ChecksumOffset, &sum, sizeof sum);
}

Block SampleWith(const std::function<void(Block&)>& change) {
    Block block = ReadPackageBlockFromFile(SamplePackagePath());
    change(block);
    return block;
}

struct TPackageCase {
    const char* Name;
    // Empty: no --release (the program's own, unstamped block).
    std::function<Block()> Package;
    std::string Outcome;
};

// Named by the case, not dumped as bytes.
void PrintTo(const TPackageCase& c, std::ostream* os) {
    *os << c.Name;
}

class CliPackage : public testing::TestWithParam<TPackageCase> {};

} // namespace

TEST_P(CliPackage, ABadPackageEndsTheRunBeforeAnyTraffic) {
    const TPackageCase& bad = GetParam();
    TTempDir dir;
    TUnitProcess unit;
    std::vector<std::string> args = {"--port", unit.Port(), "--boot"};
    if (bad.Package) {
        const std::string path = dir.File("bad.pkg");
        WriteFile(path, bad.Package());
        args.insert(args.end(), {"--release", path});
    }
    const TProcessResult result = RunCli(args);

    EXPECT_EQ(result.ExitCode, 1) << result.Err;
    EXPECT_EQ(result.Out, "No Valid FLASH Image Present! (" + bad.Outcome + ").\n");
    EXPECT_EQ(result.Err.find("Connecting..."), std::string::npos) << result.Err;
    ExpectPortReleased(unit.Port());
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliPackage,
    testing::Values(
        TPackageCase{"OwnTemplateBlock", {}, "Stored data is not valid"},
        TPackageCase{
            "WrongChecksum",
            [] { return SampleWith([](Block& b) { b[PackageLayout::PayloadOffset + 300] ^= 1; }); },
            "Stored data is not valid"},
        TPackageCase{"StructureVersionOne",
                     [] {
                         return SampleWith([](Block& b) {
                             b[PackageLayout::PayloadOffset + PackageLayout::StructureVersion] = 1;
                             StoreChecksum(b);
                         });
                     },
                     "Structure version does not match"},
        TPackageCase{"ImageLongerThanItsSlot",
                     [] {
                         return SampleWith([](Block& b) {
                             const std::uint32_t length = PackageLayout::ImageSlotSize + 128;
                             std::memcpy(
                                 &b[PackageLayout::PayloadOffset + PackageLayout::ImageLength],
                                 &length, sizeof length);
                             StoreChecksum(b);
                         });
                     },
                     "Stored image is larger than its slot"}),
    [](const testing::TestParamInfo<TPackageCase>& info) { return info.param.Name; });

TEST(CliPackageFile, AFileWithoutAPackageIsReportedByName) {
    TTempDir dir;
    TUnitProcess unit;
    const std::string path = dir.File("notes.txt");
    WriteFile(path, {'n', 'o', 't', 'e', 's', '\n'});
    for (const std::string& release : {path, dir.File("missing.pkg")}) {
        const TProcessResult result = RunCli({"--port", unit.Port(), "--release", release});

        EXPECT_EQ(result.ExitCode, 1) << result.Err;
        EXPECT_EQ(result.Out.rfind("No Valid FLASH Image Present! (", 0), 0u) << result.Out;
        EXPECT_NE(result.Out.find(release), std::string::npos) << result.Out;
        EXPECT_EQ(result.Out.substr(result.Out.size() - 3), ").\n") << result.Out;
    }
    ExpectPortReleased(unit.Port());
}
