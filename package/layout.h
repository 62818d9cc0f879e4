#pragma once
// Where everything lies in the programming package block. The block is little-endian
// throughout; payload offsets count from the start of the payload (block start + 20).

#include <cstddef>
#include <cstdint>

namespace PackageLayout {

// The block: locator, payload, checksum.
inline constexpr std::size_t LocatorSize = 20;
inline constexpr std::size_t PayloadOffset = LocatorSize;
inline constexpr std::size_t PayloadSize = 0x70000;
inline constexpr std::size_t ChecksumOffset = PayloadOffset + PayloadSize; // 0x70014
inline constexpr std::size_t BlockSize = ChecksumOffset + 4;               // 458776
inline constexpr std::uint32_t ChecksumStart = 0x12345678;

inline constexpr std::uint32_t CurrentStructureVersion = 2;

// Fields of the payload.
inline constexpr std::size_t StructureVersion = 0;
inline constexpr std::size_t ModelCode = 4;
inline constexpr std::size_t ImageTitle = 44;
inline constexpr std::size_t ComConnect = 84;
inline constexpr std::size_t ComProgram = 100;
inline constexpr std::size_t BootConnect = 116;
inline constexpr std::size_t UserConnect = 156;
inline constexpr std::size_t ConnectResponse = 196;
inline constexpr std::size_t FlashStart = 236;
inline constexpr std::size_t FlashLength = 240;
inline constexpr std::size_t ImageLength = 244;
inline constexpr std::size_t FlashBlockSize = 248;
inline constexpr std::size_t FlashCheckSeed = 252;
inline constexpr std::size_t FlashVerification = 254;
inline constexpr std::size_t PictureType = 255;
inline constexpr std::size_t ImageSlot = 0x100;
inline constexpr std::size_t LogoSlot = 0x40100;
inline constexpr std::size_t PictureSlot = 0x41500;
inline constexpr std::size_t WizardText = 0x61500;
inline constexpr std::size_t Reserved = 0x61D00;

// Sizes of the fields.
inline constexpr std::size_t TextFieldSize = 40;
inline constexpr std::size_t ComRecordSize = 16; // four u32: baud, data bits, stop bits, parity
inline constexpr std::size_t ImageSlotSize = 0x40000;
inline constexpr std::size_t LogoSlotSize = 0x1400;
inline constexpr std::size_t PictureSlotSize = 0x20000;
inline constexpr std::size_t WizardTextSize = 0x800;
inline constexpr std::size_t ReservedSize = 0xE300;

// Picture types.
inline constexpr std::uint8_t PictureBitmap = 0;
inline constexpr std::uint8_t PictureJpeg = 1;

static_assert(BlockSize == 458776);
static_assert(ChecksumOffset == 0x70014);
static_assert(ImageSlot + ImageSlotSize == LogoSlot);
static_assert(LogoSlot + LogoSlotSize == PictureSlot);
static_assert(PictureSlot + PictureSlotSize == WizardText);
static_assert(WizardText + WizardTextSize == Reserved);
static_assert(Reserved + ReservedSize == PayloadSize);

} // namespace PackageLayout
