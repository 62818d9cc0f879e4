#include "package/block.h"

#include "package/layout.h"

// The symbol has C linkage so that the library can force it into every program that links it
// (the linker's --undefined in package/CMakeLists.txt); otherwise a program that never reads
// its block would carry none.
extern "C" {
extern const std::uint8_t dv_package_block[PackageLayout::BlockSize];
alignas(16) const std::uint8_t dv_package_block[PackageLayout::BlockSize] = {
    // The locator: our own 20 bytes, unlikely to occur anywhere else in a program file.
    0xD7, 0x4C, 0x9A, 0x1E, 'D',  'V',  'F',  'P',  '-',  'P',
    'K',  'G',  0x03, 0xB5, 0x6E, 0x21, 0xF0, 0x58, 0xC2, 0x8D,
    // Zero payload and zero checksum follow.
};
}

namespace {
// The optimiser cannot know what this pointer holds when it is read, so it can never fold the
// template's zeros into the code that reads the block.
const std::uint8_t* const volatile GBlockAddress = dv_package_block;
} // namespace

const std::uint8_t* PackageBlock() {
    return GBlockAddress;
}

const std::uint8_t* PackageLocator() {
    return PackageBlock();
}
