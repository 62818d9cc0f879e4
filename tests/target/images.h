#pragma once
// Test images for the flash target: recognisable bytes, and checksums placed where the
// image tests look for them.

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
}

// Puts at blockEnd - 2 (big-endian) the 16-bit sum, started at seed, of every byte before it.
inline std::vector<std::uint8_t> WithBlockSum(std::vector<std::uint8_t> image, std::size_t blockEnd,
                                              std::uint16_t seed) {
    std::uint16_t sum = seed;
    for (std::size_t i = 0; i + 2 < blockEnd; ++i)
        sum = static_cast<std::uint16_t>(sum + image[i]);
    image[blockEnd - 2] = static_cast<std::uint8_t>(sum >> 8);
    image[blockEnd - 1] = static_cast<std::uint8_t>(sum);
    return image;
}
