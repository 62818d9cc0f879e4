// The sample release as the build makes it: two valid packages with the same definition, one
// with the JPEG picture and one with the bitmap.

#include "package/release_file.h"
#include "package/storeexe.h"

#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

namespace {

TEST(SamplePackages, CarryTheSampleRelease) {
    struct Case {
        const char* path;
        std::uint8_t pictureType;
    };
    for (const Case& c : {Case{DV_SAMPLE_PACKAGE, 1}, Case{DV_SAMPLE_BITMAP_PACKAGE, 0}}) {
        SCOPED_TRACE(c.path);
        const std::vector<std::uint8_t> block = ReadPackageBlockFromFile(c.path);
        const TExeProgrammingInfo info(ValidateStoredData(block.data()));
        ASSERT_NO_THROW(info.CheckVersion());
        EXPECT_EQ(info.FlashStart(), 0x2000u);
        EXPECT_EQ(info.FlashLength(), 0x3E000u);
        EXPECT_NE(info.FlashCheckSeed(), 0);
        EXPECT_EQ(info.FlashVerification(), 1);
        // 9600 8N1 to make contact, 57600 8N1 to program.
        const std::uint8_t* connect = info.ComConnectRecord();
        const std::uint8_t* program = info.ComProgramRecord();
        EXPECT_EQ(std::vector<int>({connect[0], connect[4], connect[8], connect[12]}),
                  std::vector<int>({7, 3, 0, 0}));
        EXPECT_EQ(std::vector<int>({program[0], program[4], program[8], program[12]}),
                  std::vector<int>({12, 3, 0, 0}));
        EXPECT_FALSE(info.ImageTitle().empty());

        // Whole transfer blocks, with the image's own checksum in its last two bytes.
        const std::uint32_t length = info.ImageLength();
        ASSERT_GE(length, 128u);
        EXPECT_EQ(length % 128, 0u);
        std::uint16_t sum = info.FlashCheckSeed();
        for (std::uint32_t i = 0; i + 2 < length; ++i)
            sum = static_cast<std::uint16_t>(sum + info.ImageData()[i]);
        EXPECT_EQ(sum, info.ImageData()[length - 2] << 8 | info.ImageData()[length - 1]);

        EXPECT_EQ(info.PictureType(), c.pictureType);
        QImage picture;
        info.LoadPicture(picture);
        EXPECT_FALSE(picture.isNull());
        QIcon icon;
        info.LoadLogo(icon);
        EXPECT_FALSE(icon.isNull());
        std::vector<std::string> lines;
        info.GetWizardText(lines);
        EXPECT_GE(lines.size(), 3u);
        EXPECT_LE(lines.size(), 20u);
    }
}

} // namespace
