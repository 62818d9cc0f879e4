#include "serial/hex.h"

#include "platform/exceptions.h"

namespace {
constexpr char KEscapeChar = '%';
constexpr std::size_t KEscapeDigits = 2;
} // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    throw EConvertError(std::string("Can't convert non-hex character: ") + c);
}

int HexByteValue(const std::string& s) {
    if (s.size() < KEscapeDigits)
        throw EConvertError("String too short to convert");
    const int high = HexDigitValue(s[0]);
    return high * 16 + HexDigitValue(s[1]);
}

std::string DecodeEscapes(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    std::size_t next = 0;
    while (next < text.size()) {
        if (text[next] != KEscapeChar) {
            result += text[next++];
            continue;
        }
        ++next;
        result += static_cast<char>(HexByteValue(text.substr(next, KEscapeDigits)));
        next += KEscapeDigits;
    }
    return result;
}

std::uint16_t SwapWord(std::uint16_t value) {
    return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

std::uint32_t SwapLong(std::uint32_t value) {
    return (value << 24) | ((value << 8) & 0x00FF0000u) | ((value >> 8) & 0x0000FF00u) |
           (value >> 24);
}
