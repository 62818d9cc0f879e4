#include "sim/escapes.h"

#include "platform/exceptions.h"

namespace {

// The value of a hexadecimal digit, or -1.
int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string DecodeConnectString(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        const int high = i + 1 < text.size() ? DigitValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? DigitValue(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            throw EConvertError("Connect string \"" + text + "\": the \"%\" at position " +
                                std::to_string(i + 1) +
                                " is not followed by two hexadecimal digits");
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return bytes;
}
