#pragma once
// The length of a file stored in a zero-filled slot. The slots keep no length, so it comes from
// the file's own structure.

#include <cstddef>
#include <cstdint>

// A Windows icon file: the end of its furthest image. 0 when the slot holds no icon directory.
std::size_t StoredIconLength(const std::uint8_t* slot, std::size_t slotSize);

// A bitmap file's length from its header; a JPEG file up to its last non-zero byte (it ends
// with the FF D9 marker). 0 when the slot holds neither.
std::size_t StoredPictureLength(std::uint8_t pictureType, const std::uint8_t* slot,
                                std::size_t slotSize);
