#include "tools/pack/package_contents.h"

#include "package/block.h"
#include "package/layout.h"
#include "package/storeexe.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

class TPayloadWriter {
public:
    explicit TPayloadWriter(std::uint8_t* payload) : FPayload(payload) {}

    void U32(std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            FPayload[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    void U16(std::size_t offset, std::uint16_t value) {
        FPayload[offset] = static_cast<std::uint8_t>(value);
        FPayload[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    void U8(std::size_t offset, std::uint8_t value) { FPayload[offset] = value; }
    void Bytes(std::size_t offset, std::size_t slotSize, const void* data, std::size_t size) {
        assert(size <= slotSize);
        if (size > 0) // an empty vector's data() may be null
            std::memcpy(FPayload + offset, data, std::min(size, slotSize));
    }
    void Bytes(std::size_t offset, std::size_t slotSize, const std::vector<std::uint8_t>& bytes) {
        Bytes(offset, slotSize, bytes.data(), bytes.size());
    }
    void Text(std::size_t offset, std::size_t fieldSize, const std::string& text) {
        Bytes(offset, fieldSize, text.data(), text.size());
    }
    void Serial(std::size_t offset, const TSerialSettings& settings) {
        U32(offset, settings.BaudRate);
        U32(offset + 4, settings.DataBits);
        U32(offset + 8, settings.StopBits);
        U32(offset + 12, settings.Parity);
    }

private:
    std::uint8_t* FPayload;
};

} // namespace

std::vector<std::uint8_t> AssemblePackage(const TPackageContents& c) {
    namespace L = PackageLayout;
    std::vector<std::uint8_t> block(L::BlockSize, 0);
    std::copy_n(PackageLocator(), L::LocatorSize, block.begin());

    TPayloadWriter w(block.data() + L::PayloadOffset);
    w.U32(L::StructureVersion, L::CurrentStructureVersion);
    w.Text(L::ModelCode, L::TextFieldSize, c.Model);
    w.Text(L::ImageTitle, L::TextFieldSize, c.Title);
    w.Serial(L::ComConnect, c.ComConnect);
    w.Serial(L::ComProgram, c.ComProgram);
    w.Text(L::BootConnect, L::TextFieldSize, c.BootConnect);
    w.Text(L::UserConnect, L::TextFieldSize, c.UserConnect);
    w.Text(L::ConnectResponse, L::TextFieldSize, c.ConnectResponse);
    w.U32(L::FlashStart, c.FlashStart);
    w.U32(L::FlashLength, c.FlashLength);
    w.U32(L::ImageLength, static_cast<std::uint32_t>(c.Image.size()));
    w.U32(L::FlashBlockSize, c.FlashBlockSize);
    w.U16(L::FlashCheckSeed, c.FlashCheckSeed);
    w.U8(L::FlashVerification, c.FlashVerification);
    w.U8(L::PictureType, c.PictureType);
    w.Bytes(L::ImageSlot, L::ImageSlotSize, c.Image);
    w.Bytes(L::LogoSlot, L::LogoSlotSize, c.Icon);
    w.Bytes(L::PictureSlot, L::PictureSlotSize, c.Picture);
    w.Text(L::WizardText, L::WizardTextSize, c.WizardText);

    const std::uint32_t checksum = PayloadChecksum(block.data() + L::PayloadOffset);
    for (int i = 0; i < 4; ++i)
        block[L::ChecksumOffset + i] = static_cast<std::uint8_t>(checksum >> (8 * i));
    return block;
}
