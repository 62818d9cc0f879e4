#pragma once
// Read-only access to the programming package: the checksum test over the whole block and the
// accessor through which everything else reads the payload in place.

#include "package/layout.h"
#include "platform/exceptions.h"

#include <cstdint>
#include <string>
#include <vector>

class QIcon;
class QImage;
class THitachiFlash;
class TComPort;

// A package that must not be used: its checksum fails or its image does not fit its slot.
class EStoredDataError : public Exception {
public:
    using Exception::Exception;
};

// 0x12345678 plus every payload byte, modulo 2^32: the value the block's checksum field holds.
std::uint32_t PayloadChecksum(const std::uint8_t* payload);

// Checks the block's checksum and returns its payload (block + 20).
// Raises EStoredDataError "Stored data is not valid" when it does not match.
const std::uint8_t* ValidateStoredData(const std::uint8_t* block);

// The accessor over a validated payload. It keeps only the pointer: the payload is neither
// owned nor copied.
class TExeProgrammingInfo {
public:
    explicit TExeProgrammingInfo(const std::uint8_t* payload) : FPayload(payload) {}

    std::uint32_t StructureVersion() const;
    // Raises Exception "Structure version does not match" unless the version is 2, then runs
    // CheckImageLength.
    void CheckVersion() const;
    // Raises EStoredDataError "Stored image is larger than its slot" when the image length
    // exceeds the image slot, so that nothing ever reads past it.
    void CheckImageLength() const;

    // A text field: its bytes up to the first zero byte or the end of the field.
    static std::string ReadFixedString(const std::uint8_t* field, int size);

    std::string ModelCode() const;
    std::string ImageTitle() const;
    std::string BootConnect() const;
    std::string UserConnect() const;
    std::string ConnectResponse() const;

    std::uint32_t FlashStart() const;
    std::uint32_t FlashLength() const;
    std::uint32_t ImageLength() const;
    std::uint32_t FlashBlockSize() const;
    std::uint16_t FlashCheckSeed() const;
    std::uint8_t FlashVerification() const;
    std::uint8_t PictureType() const;

    // The image slot; its first ImageLength bytes are the image.
    const std::uint8_t* ImageData() const { return FPayload + PackageLayout::ImageSlot; }
    // The two 16-byte serial settings records (baud, data bits, stop bits, parity as u32).
    const std::uint8_t* ComConnectRecord() const { return FPayload + PackageLayout::ComConnect; }
    const std::uint8_t* ComProgramRecord() const { return FPayload + PackageLayout::ComProgram; }

    // Decodes stored bytes in place with Qt's image reader for the given format. The reader
    // gets exactly the bytes given, so it sees the zeros that follow a file in its slot.
    // On failure raises Exception with the reader's text and leaves the image unchanged.
    static void LoadGraphic(const void* data, std::int64_t size, QImage& image, const char* format);
    // Every image of a stored Windows icon file, as one icon.
    static void LoadGraphic(const void* data, std::int64_t size, QIcon& icon);

    // The logo slot as an icon.
    void LoadLogo(QIcon& icon) const;
    // The picture slot as a bitmap (type 0) or JPEG (type 1); any other type raises Exception
    // "Image type not supported". The image is left unchanged on any failure.
    void LoadPicture(QImage& picture) const;
    // The cabling instructions, split at CR, LF or CR LF; a final line break adds no line.
    void GetWizardText(std::vector<std::string>& lines) const;

    // Defined with the flash target.
    void ApplyTo(THitachiFlash& flash) const;
    void ApplyComSettings(const std::uint8_t* record, TComPort& port) const;

private:
    std::string TextField(std::size_t offset) const;
    std::uint32_t U32(std::size_t offset) const;

    const std::uint8_t* FPayload;
};
