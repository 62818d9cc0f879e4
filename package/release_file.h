#pragma once
// Reading a package block out of a file: a package file as daltoven-pack builds it, or a program
// file that carries a block.

#include <cstdint>
#include <string>
#include <vector>

// Returns the whole 458776-byte block (locator, payload, checksum) of a package file (exactly
// one block that starts with the locator) or of a program file that holds the locator exactly
// once. Raises Exception naming the file when it cannot be read, holds no locator or more
// than one, or ends before its block does. The checksum is not tested here.
std::vector<std::uint8_t> ReadPackageBlockFromFile(const std::string& path);

// The offsets at which the locator occurs in the bytes (at most the first two found: one is
// what a program must have, a second is already an error).
std::vector<std::size_t> FindLocators(const std::vector<std::uint8_t>& bytes);

// The whole file; raises Exception naming it when it cannot be read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
