#pragma once
// The escape syntax of the connect strings ("%" and two hexadecimal digits stand for one byte)
// and the wire's byte order (most significant byte first).

#include <cstdint>
#include <string>

int HexDigitValue(char c);
int HexByteValue(const std::string& s);
std::string DecodeEscapes(const std::string& text);

std::uint16_t SwapWord(std::uint16_t value);
std::uint32_t SwapLong(std::uint32_t value);
