#pragma once
// Everything that goes into one programming package, and its assembly into a whole block.

#include "target/defaults.h"
#include "tools/pack/serial_words.h"

#include <cstdint>
#include <string>
#include <vector>

struct TPackageContents {
    std::string Title;
    std::string Model;
    std::uint32_t FlashStart = 0;
    std::uint32_t FlashLength = 0;
    std::uint32_t FlashBlockSize = 0;
    std::uint16_t FlashCheckSeed = 0;
    std::uint8_t FlashVerification = 0;
    TSerialSettings ComConnect;
    TSerialSettings ComProgram;
    std::string BootConnect = DefaultBootConnect;
    std::string UserConnect = DefaultUserConnect;
    std::string ConnectResponse = DefaultConnectResponse;
    std::vector<std::uint8_t> Image;
    std::vector<std::uint8_t> Icon;
    std::vector<std::uint8_t> Picture;
    std::uint8_t PictureType = 0;
    std::string WizardText; // lines joined by CR LF
};

// The whole 458776-byte block: locator, payload (structure version 2), checksum. The contents
// must fit their fields (the manifest reader checks that).
std::vector<std::uint8_t> AssemblePackage(const TPackageContents& contents);
