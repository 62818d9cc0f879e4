#include "tools/pack/stored_files.h"

#include "package/layout.h"

#include <algorithm>

namespace {

std::uint32_t Little32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::size_t WithoutTrailingZeros(const std::uint8_t* slot, std::size_t size) {
    while (size > 0 && slot[size - 1] == 0)
        --size;
    return size;
}

constexpr std::size_t KIconDirectorySize = 6;
constexpr std::size_t KIconEntrySize = 16;
constexpr std::size_t KBitmapFileHeaderSize = 14;

} // namespace

std::size_t StoredIconLength(const std::uint8_t* slot, std::size_t slotSize) {
    if (slotSize < KIconDirectorySize || slot[0] != 0 || slot[1] != 0 || slot[2] != 1 ||
        slot[3] != 0)
        return 0;
    const std::size_t count = slot[4] | std::size_t(slot[5]) << 8;
    const std::size_t directoryEnd = KIconDirectorySize + count * KIconEntrySize;
    if (count == 0 || directoryEnd > slotSize)
        return 0;
    std::size_t end = directoryEnd;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = slot + KIconDirectorySize + i * KIconEntrySize;
        const std::uint64_t imageEnd = std::uint64_t(Little32(entry + 8)) + Little32(entry + 12);
        if (imageEnd > slotSize)
            return 0;
        end = std::max<std::size_t>(end, static_cast<std::size_t>(imageEnd));
    }
    return end;
}

std::size_t StoredPictureLength(std::uint8_t pictureType, const std::uint8_t* slot,
                                std::size_t slotSize) {
    if (pictureType == PackageLayout::PictureBitmap) {
        if (slotSize < KBitmapFileHeaderSize || slot[0] != 'B' || slot[1] != 'M')
            return 0;
        const std::uint32_t size = Little32(slot + 2);
        // A header that does not say its size well: keep everything up to the zero fill.
        if (size < KBitmapFileHeaderSize || size > slotSize)
            return WithoutTrailingZeros(slot, slotSize);
        return size;
    }
    if (pictureType == PackageLayout::PictureJpeg) {
        if (slotSize < 2 || slot[0] != 0xFF || slot[1] != 0xD8)
            return 0;
        return WithoutTrailingZeros(slot, slotSize);
    }
    return 0;
}
