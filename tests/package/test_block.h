#pragma once
// A package block that a test fills field by field, then seals with the checksum.

#include "package/block.h"
#include "package/layout.h"
#include "package/storeexe.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class TTestBlock {
public:
    TTestBlock() : FBytes(PackageLayout::BlockSize, 0) {
        std::copy_n(PackageLocator(), PackageLayout::LocatorSize, FBytes.begin());
    }

    std::uint8_t* Data() { return FBytes.data(); }
    std::uint8_t* Payload() { return FBytes.data() + PackageLayout::PayloadOffset; }
    std::vector<std::uint8_t>& Bytes() { return FBytes; }

    void PutU32(std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            Payload()[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    void PutU16(std::size_t offset, std::uint16_t value) {
        Payload()[offset] = static_cast<std::uint8_t>(value);
        Payload()[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    void PutBytes(std::size_t offset, const void* data, std::size_t size) {
        std::memcpy(Payload() + offset, data, size);
    }
    void PutBytes(std::size_t offset, const QByteArray& bytes) {
        PutBytes(offset, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    void PutText(std::size_t offset, const std::string& text) {
        PutBytes(offset, text.data(), text.size());
    }

    std::uint32_t StoredChecksum() const {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | FBytes[PackageLayout::ChecksumOffset + i];
        return value;
    }
    void SetChecksum(std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            FBytes[PackageLayout::ChecksumOffset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    // Computed here by its own loop, not by the code under test.
    void Seal() {
        std::uint32_t sum = PackageLayout::ChecksumStart;
        for (std::size_t i = 0; i < PackageLayout::PayloadSize; ++i)
            sum += Payload()[i];
        SetChecksum(sum);
    }

private:
    std::vector<std::uint8_t> FBytes;
};

// A small picture file of the given Qt format ("BMP", "JPG", "ICO").
inline QByteArray EncodeTestImage(const char* format, int width = 24, int height = 16) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (int x = 0; x < width; ++x)
        image.setPixel(x, x % height, qRgb(255, 200, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
