#include "package/storeexe.h"

#include "tests/package/test_block.h"

#include <QIcon>
#include <QImage>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Runs the call and returns the message of the Exception it raised ("" when none).
template <typename Call> std::string MessageOf(Call call) {
    try {
        call();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(ValidateStoredData, ZeroPayloadHasTheStartValueAsChecksum) {
    TTestBlock block;
    block.SetChecksum(0x12345678);
    EXPECT_EQ(ValidateStoredData(block.Data()), block.Payload());
}

TEST(ValidateStoredData, ZeroChecksumOfAFreshTemplateFails) {
    TTestBlock block;
    EXPECT_THROW(ValidateStoredData(block.Data()), EStoredDataError);
    EXPECT_EQ(MessageOf([&] { ValidateStoredData(block.Data()); }), "Stored data is not valid");
}

TEST(ValidateStoredData, OneChangedPayloadByteFails) {
    // The first, a middle and the last payload byte: every byte must be in the sum.
    for (std::size_t offset :
         {std::size_t(0), PackageLayout::PayloadSize / 2, PackageLayout::PayloadSize - 1}) {
        TTestBlock block;
        block.Seal();
        block.Payload()[offset] = 1;
        EXPECT_THROW(ValidateStoredData(block.Data()), EStoredDataError) << "offset " << offset;
    }
}

TEST(ValidateStoredData, ExchangedBytesStillPass) {
    TTestBlock block;
    block.Payload()[10] = 0x11;
    block.Payload()[5000] = 0xEE;
    block.Seal();
    std::swap(block.Payload()[10], block.Payload()[5000]);
    EXPECT_NO_THROW(ValidateStoredData(block.Data()));
}

TEST(ValidateStoredData, BytesCountUnsignedInAFull32BitSum) {
    // Every byte 0xFF: a signed byte or a narrow accumulator gives another value. (The largest
    // possible sum, 0x192D5678, stays below 2^32, so a real payload never wraps.)
    TTestBlock block;
    std::fill_n(block.Payload(), PackageLayout::PayloadSize, 0xFF);
    block.SetChecksum(0x12345678u + 458752u * 255u);
    EXPECT_NO_THROW(ValidateStoredData(block.Data()));
    EXPECT_EQ(PayloadChecksum(block.Payload()), 0x192D5678u);
}

TEST(ValidateStoredData, LocatorIsNotPartOfTheSum) {
    TTestBlock block;
    block.Seal();
    for (std::size_t i = 0; i < PackageLayout::LocatorSize; ++i)
        block.Data()[i] ^= 0x5A;
    EXPECT_NO_THROW(ValidateStoredData(block.Data()));
}

TEST(CheckVersion, OnlyVersionTwoPasses) {
    for (std::uint32_t version : {0u, 1u, 3u, 0x02000000u}) {
        TTestBlock block;
        block.PutU32(PackageLayout::StructureVersion, version);
        TExeProgrammingInfo info(block.Payload());
        EXPECT_EQ(MessageOf([&] { info.CheckVersion(); }), "Structure version does not match")
            << "version " << version;
    }
    TTestBlock block;
    block.PutU32(PackageLayout::StructureVersion, 2);
    EXPECT_NO_THROW(TExeProgrammingInfo(block.Payload()).CheckVersion());
}

TEST(CheckVersion, WrongVersionIsTheBaseClassNotAStoredDataError) {
    TTestBlock block;
    block.PutU32(PackageLayout::StructureVersion, 1);
    TExeProgrammingInfo info(block.Payload());
    try {
        info.CheckVersion();
        FAIL() << "no exception";
    } catch (const EStoredDataError&) {
        FAIL() << "raised as EStoredDataError";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Structure version does not match");
    }
}

TEST(CheckVersion, RefusesAnImageLargerThanItsSlot) {
    struct Case {
        std::uint32_t length;
        bool accepted;
    };
    for (const Case& c :
         {Case{0, true}, Case{262144, true}, Case{262145, false}, Case{0xFFFFFFFF, false}}) {
        TTestBlock block;
        block.PutU32(PackageLayout::StructureVersion, 2);
        block.PutU32(PackageLayout::ImageLength, c.length);
        TExeProgrammingInfo info(block.Payload());
        if (c.accepted) {
            EXPECT_NO_THROW(info.CheckVersion()) << c.length;
        } else {
            EXPECT_THROW(info.CheckVersion(), EStoredDataError) << c.length;
            EXPECT_EQ(MessageOf([&] { info.CheckVersion(); }),
                      "Stored image is larger than its slot");
        }
    }
}

TEST(CheckVersion, VersionIsTestedBeforeTheImageLength) {
    TTestBlock block;
    block.PutU32(PackageLayout::StructureVersion, 1);
    block.PutU32(PackageLayout::ImageLength, 0x80000);
    TExeProgrammingInfo info(block.Payload());
    EXPECT_EQ(MessageOf([&] { info.CheckVersion(); }), "Structure version does not match");
}

TEST(ReadFixedString, StopsAtTheFirstZeroOrTheEndOfTheField) {
    struct Case {
        std::string field; // 40 bytes
        std::string expected;
    };
    const std::string full(40, 'Q');
    const Case cases[] = {
        {full, full},
        {std::string("\0", 1) + std::string(39, 'A'), ""},
        {std::string("AB\0CD", 5) + std::string(35, '\0'), "AB"},
        {std::string("\xE9\x80\x7F", 3) + std::string(37, '\0'), "\xE9\x80\x7F"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.field.size(), 40u);
        // One byte past the field is non-zero: a reader that runs over the end picks it up.
        std::vector<std::uint8_t> bytes(c.field.begin(), c.field.end());
        bytes.push_back('X');
        EXPECT_EQ(TExeProgrammingInfo::ReadFixedString(bytes.data(), 40), c.expected);
    }
}

TEST(TExeProgrammingInfo, EveryGetterReadsItsOwnField) {
    TTestBlock block;
    // Every text field full to its 40 bytes, so that an offset that is off shows a neighbour.
    const std::string model(40, 'm'), title(40, 't'), boot(40, 'b'), user(40, 'u'),
        response(40, 'r');
    block.PutU32(PackageLayout::StructureVersion, 2);
    block.PutText(4, model);
    block.PutText(44, title);
    block.PutU32(84, 7);
    block.PutU32(88, 3);
    block.PutU32(100, 12);
    block.PutText(116, boot);
    block.PutText(156, user);
    block.PutText(196, response);
    block.PutU32(236, 0x11223344);
    block.PutU32(240, 0x55667788);
    block.PutU32(244, 0x00012345);
    block.PutU32(248, 0x99AABBCC);
    block.PutU16(252, 0xBEEF);
    block.Payload()[254] = 0x02;
    block.Payload()[255] = 0x01;

    const TExeProgrammingInfo info(block.Payload());
    EXPECT_EQ(info.StructureVersion(), 2u);
    EXPECT_EQ(info.ModelCode(), model);
    EXPECT_EQ(info.ImageTitle(), title);
    EXPECT_EQ(info.BootConnect(), boot);
    EXPECT_EQ(info.UserConnect(), user);
    EXPECT_EQ(info.ConnectResponse(), response);
    EXPECT_EQ(info.FlashStart(), 0x11223344u);
    EXPECT_EQ(info.FlashLength(), 0x55667788u);
    EXPECT_EQ(info.ImageLength(), 0x00012345u);
    EXPECT_EQ(info.FlashBlockSize(), 0x99AABBCCu);
    EXPECT_EQ(info.FlashCheckSeed(), 0xBEEF);
    EXPECT_EQ(info.FlashVerification(), 2);
    EXPECT_EQ(info.PictureType(), 1);
    EXPECT_EQ(info.ImageData(), block.Payload() + 0x100);
    EXPECT_EQ(info.ComConnectRecord(), block.Payload() + 84);
    EXPECT_EQ(info.ComProgramRecord(), block.Payload() + 100);
    EXPECT_EQ(info.ComConnectRecord()[0], 7);
    EXPECT_EQ(info.ComProgramRecord()[0], 12);
}

TEST(TExeProgrammingInfo, EmptyTitleIsAnEmptyString) {
    TTestBlock block;
    block.PutText(PackageLayout::ModelCode, std::string(40, 'm'));
    EXPECT_EQ(TExeProgrammingInfo(block.Payload()).ImageTitle(), "");
}

TEST(GetWizardText, SplitsAtEveryKindOfLineBreak) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"a\nb\rc", {"a", "b", "c"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\n\r", {"", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
    };
    for (const Case& c : cases) {
        TTestBlock block;
        block.PutText(PackageLayout::WizardText, c.text);
        std::vector<std::string> lines{"left over"};
        TExeProgrammingInfo(block.Payload()).GetWizardText(lines);
        EXPECT_EQ(lines, c.lines) << "text: " << c.text;
    }
}

TEST(GetWizardText, FieldWithoutAZeroGivesExactly2048Characters) {
    TTestBlock block;
    std::string text(2048, 'w');
    text[1000] = '\n';
    block.PutText(PackageLayout::WizardText, text);
    block.Payload()[PackageLayout::Reserved] = 'X'; // must not be read
    std::vector<std::string> lines;
    TExeProgrammingInfo(block.Payload()).GetWizardText(lines);
    EXPECT_THAT(lines, ElementsAre(std::string(1000, 'w'), std::string(1047, 'w')));
}

class LoadPictureTest : public ::testing::Test {
protected:
    void StorePicture(std::uint8_t type, const QByteArray& file) {
        block.Payload()[PackageLayout::PictureType] = type;
        block.PutBytes(PackageLayout::PictureSlot, file);
    }

    TTestBlock block;
    QImage previous{3, 5, QImage::Format_RGB32};
};

TEST_F(LoadPictureTest, BitmapAndJpegAreDecodedFromTheSlot) {
    struct Case {
        std::uint8_t type;
        const char* format;
    };
    for (const Case& c : {Case{0, "BMP"}, Case{1, "JPG"}}) {
        StorePicture(c.type, EncodeTestImage(c.format, 24, 16));
        QImage picture = previous;
        TExeProgrammingInfo(block.Payload()).LoadPicture(picture);
        EXPECT_EQ(picture.size(), QSize(24, 16)) << c.format;
    }
}

TEST_F(LoadPictureTest, UnsupportedTypeLeavesThePictureAlone) {
    StorePicture(2, EncodeTestImage("BMP"));
    QImage picture = previous;
    EXPECT_EQ(MessageOf([&] { TExeProgrammingInfo(block.Payload()).LoadPicture(picture); }),
              "Image type not supported");
    EXPECT_EQ(picture.size(), previous.size());
}

TEST_F(LoadPictureTest, ContentOfAnotherKindIsTheReadersError) {
    struct Case {
        std::uint8_t type;
        QByteArray file;
    };
    for (const Case& c : {Case{0, EncodeTestImage("JPG")}, Case{1, EncodeTestImage("BMP")},
                          Case{0, QByteArray()}}) {
        TTestBlock fresh;
        block = fresh;
        StorePicture(c.type, c.file);
        QImage picture = previous;
        const std::string message =
            MessageOf([&] { TExeProgrammingInfo(block.Payload()).LoadPicture(picture); });
        EXPECT_FALSE(message.empty()) << "type " << int(c.type);
        EXPECT_EQ(picture.size(), previous.size());
    }
}

TEST(LoadLogo, IconFileInTheLogoSlot) {
    TTestBlock block;
    block.PutBytes(PackageLayout::LogoSlot, EncodeTestImage("ICO", 32, 32));
    QIcon icon;
    TExeProgrammingInfo(block.Payload()).LoadLogo(icon);
    ASSERT_FALSE(icon.isNull());
    EXPECT_THAT(icon.availableSizes(), ElementsAre(QSize(32, 32)));
}

TEST(LoadLogo, EmptySlotRaisesAndKeepsTheIcon) {
    TTestBlock block;
    QIcon icon;
    EXPECT_THROW(TExeProgrammingInfo(block.Payload()).LoadLogo(icon), Exception);
    EXPECT_TRUE(icon.isNull());
}

} // namespace
