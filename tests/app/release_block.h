#pragma once
// A release package block for the window's tests: a valid structure-2 package with the flash
// definition the simulated unit has by default, a small image, a logo, a cabling picture and
// instructions. Each test changes what it needs and seals it.

#include "package/layout.h"
#include "tests/package/test_block.h"

#include <cstdint>
#include <string>
#include <vector>

struct ReleaseOptions {
    std::string Title = "Widget 3000 Release 7";
    std::uint32_t Version = PackageLayout::CurrentStructureVersion;
    std::uint32_t FlashStart = 0x2000;
    std::uint32_t FlashLength = 0x3E000;
    std::uint16_t CheckSeed = 0x1234;
    std::vector<std::uint8_t> Image = DefaultImage(1024);
    // Picture file and its type; an empty file leaves the slot zero (no loadable picture).
    QByteArray Picture = EncodeTestImage("BMP", 210, 156);
    std::uint8_t PictureType = PackageLayout::PictureBitmap;
    QByteArray Logo = EncodeTestImage("ICO", 32, 32);
    std::string WizardText = "Connect the cable to the unit.\r\nSwitch the unit on.";
    // Index values of ComConnect and ComProgram: baud, data bits, stop bits, parity.
    std::uint32_t ConnectBaud = 7; // 9600
    std::uint32_t ProgramBaud = 7;

    static std::vector<std::uint8_t> DefaultImage(std::size_t size) {
        std::vector<std::uint8_t> image(size);
        for (std::size_t i = 0; i < size; ++i)
            image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        return image;
    }
};

inline TTestBlock ReleaseBlock(const ReleaseOptions& o = {}) {
    namespace L = PackageLayout;
    TTestBlock block;
    block.PutU32(L::StructureVersion, o.Version);
    block.PutText(L::ModelCode, "WDG3000");
    block.PutText(L::ImageTitle, o.Title);
    for (std::size_t record : {L::ComConnect, L::ComProgram}) {
        block.PutU32(record, record == L::ComConnect ? o.ConnectBaud : o.ProgramBaud);
        block.PutU32(record + 4, 3);  // eight data bits
        block.PutU32(record + 8, 0);  // one stop bit
        block.PutU32(record + 12, 0); // no parity
    }
    block.PutText(L::BootConnect, "TeMoKPaZ");
    block.PutText(L::UserConnect, "%02QD7315%03");
    block.PutText(L::ConnectResponse, "TeMoKPaZ");
    block.PutU32(L::FlashStart, o.FlashStart);
    block.PutU32(L::FlashLength, o.FlashLength);
    block.PutU32(L::ImageLength, static_cast<std::uint32_t>(o.Image.size()));
    block.PutU32(L::FlashBlockSize, 128);
    block.PutU16(L::FlashCheckSeed, o.CheckSeed);
    block.Payload()[L::FlashVerification] = 1;
    block.Payload()[L::PictureType] = o.PictureType;
    block.PutBytes(L::ImageSlot, o.Image.data(), o.Image.size());
    block.PutBytes(L::LogoSlot, o.Logo);
    block.PutBytes(L::PictureSlot, o.Picture);
    block.PutText(L::WizardText, o.WizardText);
    block.Seal();
    return block;
}
