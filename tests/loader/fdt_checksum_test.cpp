// The image checksum tests and the baud-rate register arithmetic: no wire involved.
#include "loader/fdt.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/loader/fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void Fill(TMemoryStream& stream, const std::vector<int>& bytes) {
    for (const int b : bytes) {
        const auto byte = static_cast<std::uint8_t>(b);
        stream.WriteBuffer(&byte, 1);
    }
}

} // namespace

struct ImageSumCase {
    const char* Name;
    std::vector<int> Image;
    std::uint16_t Seed;
    bool Ok;
};

class ImageChecksum : public ::testing::TestWithParam<ImageSumCase> {};

TEST_P(ImageChecksum, ComparesTheSumWithTheLastTwoBytes) {
    const ImageSumCase& c = GetParam();
    TMemoryStream image;
    Fill(image, c.Image);
    image.SetPosition(1);

    EXPECT_EQ(TFlashFDTDevice::ImageChecksumOk(image, c.Seed), c.Ok);
    EXPECT_EQ(image.Position(), image.Size()) << "reads from the start to the end";
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageChecksum,
    ::testing::Values(ImageSumCase{"Matches", {0x01, 0x02, 0x03, 0x00, 0x06}, 0, true},
                      ImageSumCase{"Differs", {0x01, 0x02, 0x03, 0x00, 0x07}, 0, false},
                      ImageSumCase{"StoredBigEndian", {0x05, 0x05, 0x00}, 0, false},
                      ImageSumCase{"StartsAtTheSeed", {0x01, 0x10, 0x01}, 0x1000, true},
                      // 0xFFFF + 0xFF wraps to 0x00FE.
                      ImageSumCase{"SumWrapsAt16Bits", {0xFF, 0x00, 0xFE}, 0xFFFF, true},
                      ImageSumCase{"TwoBytesEqualToTheSeed", {0x12, 0x34}, 0x1234, true},
                      ImageSumCase{"TwoBytesNotTheSeed", {0x12, 0x35}, 0x1234, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ImageChecksumShort, FewerThanTwoBytesIsAStreamReadError) {
    for (const std::vector<int>& bytes : {std::vector<int>{}, std::vector<int>{0x00}}) {
        TMemoryStream image;
        Fill(image, bytes);
        EXPECT_EQ(FailureOf([&] { TFlashFDTDevice::ImageChecksumOk(image, 0); }),
                  (Failure{"EReadError", "Stream read error"}));
    }
}

struct BlockSumCase {
    const char* Name;
    std::vector<int> Image;
    std::uint16_t Seed;
    std::uint32_t BlockSize;
    bool Ok;
    std::int64_t PositionAfter;
};

class BlockChecksum : public ::testing::TestWithParam<BlockSumCase> {};

TEST_P(BlockChecksum, FirstMatchingBlockEndDecides) {
    const BlockSumCase& c = GetParam();
    TMemoryStream image;
    Fill(image, c.Image);

    EXPECT_EQ(TFlashFDTDevice::BlockChecksumOk(image, c.Seed, c.BlockSize), c.Ok);
    EXPECT_EQ(image.Position(), c.PositionAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Images, BlockChecksum,
    ::testing::Values(
        // The first block end holds 0x0000 against a sum of 3; the second 0x000E: 14.
        BlockSumCase{
            "SecondBlockEnd", {0x01, 0x02, 0x00, 0x00, 0x05, 0x06, 0x00, 0x0E}, 0, 4, true, 8},
        BlockSumCase{
            "NoBlockEndMatches", {0x01, 0x02, 0x00, 0x00, 0x05, 0x06, 0x00, 0x0F}, 0, 4, false, 6},
        BlockSumCase{
            "FirstBlockEnd", {0x01, 0x02, 0x00, 0x03, 0x55, 0x66, 0x77, 0x88}, 0, 4, true, 4},
        BlockSumCase{"StartsAtTheSeed", {0x01, 0x02, 0x10, 0x03}, 0x1000, 4, true, 4},
        BlockSumCase{"TwoBytesAreNeverRead", {0x00, 0x00}, 0, 2, false, 0},
        BlockSumCase{"EmptyImage", {}, 0, 4, false, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(BlockChecksumZero, BlockSizeZeroIsRefused) {
    TMemoryStream image;
    Fill(image, {1, 2, 3, 4});
    EXPECT_EQ(FailureOf([&] { TFlashFDTDevice::BlockChecksumOk(image, 0, 0); }),
              (Failure{"EFDTException", "Block size must not be zero"}));
}

struct ScaleCase {
    int Register;
    std::int32_t Current;
    std::int32_t New;
    std::int64_t Result;
};

class ScaleBaudRegister : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleBaudRegister, ScalesInExtendedPrecisionRoundsToSingleAndTruncates) {
    const ScaleCase& c = GetParam();
    EXPECT_EQ(
        TFlashFDTDevice::ScaleBaudRegister(static_cast<std::uint8_t>(c.Register), c.Current, c.New),
        c.Result);
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, ScaleBaudRegister,
    ::testing::Values(ScaleCase{103, 9600, 57600, 17}, ScaleCase{25, 9600, 38400, 6},
                      // 26.999999999999996 in double: 27 in single.
                      ScaleCase{105, 14400, 56000, 27}, ScaleCase{77, 19200, 19200, 77},
                      ScaleCase{200, 57600, 9600, 1200}, ScaleCase{0, 9600, 115200, 0},
                      ScaleCase{255, 256000, 110, 593454},
                      // A custom speed: 52.99999999999999999653 in extended precision, 53 in
                      // single.
                      ScaleCase{100, 5088, 9600, 53}));

TEST(ScaleBaudRegisterZero, ZeroNewSpeedIsRefused) {
    EXPECT_EQ(FailureOf([] { TFlashFDTDevice::ScaleBaudRegister(10, 9600, 0); }),
              (Failure{"EFDTException", "Line speed must be greater than zero"}));
}
