#pragma once
// The program's own package block: 458776 bytes of initialised data that start with a locator.
// A freshly built program carries a zero payload and a zero checksum, so it reports "Stored data
// is not valid" until daltoven-pack stamps a package into its file.

#include <cstdint>

// The whole block: locator, payload, checksum.
const std::uint8_t* PackageBlock();

// The 20 locator bytes that mark the block in a program file, read from the block itself, so
// that a program carries them exactly once.
const std::uint8_t* PackageLocator();
