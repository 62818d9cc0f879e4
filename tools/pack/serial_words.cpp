#include "tools/pack/serial_words.h"

#include "platform/exceptions.h"

#include <array>
#include <cctype>
#include <regex>

namespace {

constexpr std::uint32_t KBaudRateCount = br256000 + 1;
constexpr std::uint32_t KDataBitsCount = dbEight + 1;
constexpr std::uint32_t KStopBitsCount = sbTwoStopBits + 1;
constexpr std::uint32_t KParityCount = prSpace + 1;

constexpr int KFewestDataBits = 5; // dbFive
constexpr std::array<const char*, KStopBitsCount> KStopBitsWords = {"1", "1.5", "2"};
constexpr std::array<char, KParityCount> KParityLetters = {'N', 'O', 'E', 'M', 'S'};
constexpr const char* KCustomBaudWord = "custom";

std::uint32_t BaudRateIndex(const std::string& word) {
    if (word == KCustomBaudWord)
        return brCustom;
    for (std::uint32_t index = br110; index < KBaudRateCount; ++index)
        if (std::to_string(BaudRateBitsPerSecond(static_cast<TBaudRate>(index))) == word)
            return index;
    throw Exception("no such line speed: " + word);
}

std::uint32_t IndexInRange(const std::string& digits, std::uint32_t count, const char* what) {
    const unsigned long value = digits.size() > 3 ? count : std::stoul(digits);
    if (value >= count)
        throw Exception(std::string(what) + " index " + digits + " is outside 0 to " +
                        std::to_string(count - 1));
    return static_cast<std::uint32_t>(value);
}

TSerialSettings ParseIndexes(const std::smatch& m) {
    TSerialSettings settings;
    settings.BaudRate = IndexInRange(m[1], KBaudRateCount, "line speed");
    settings.DataBits = IndexInRange(m[2], KDataBitsCount, "data bits");
    settings.StopBits = IndexInRange(m[3], KStopBitsCount, "stop bits");
    settings.Parity = IndexInRange(m[4], KParityCount, "parity");
    return settings;
}

TSerialSettings ParseWords(const std::smatch& m) {
    TSerialSettings settings;
    settings.BaudRate = BaudRateIndex(m[1]);
    settings.DataBits = static_cast<std::uint32_t>(std::stoi(m[2]) - KFewestDataBits);
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(m[3].str()[0])));
    for (std::uint32_t i = 0; i < KParityCount; ++i)
        if (KParityLetters[i] == parity)
            settings.Parity = i;
    for (std::uint32_t i = 0; i < KStopBitsCount; ++i)
        if (m[4] == KStopBitsWords[i])
            settings.StopBits = i;
    return settings;
}

} // namespace

TSerialSettings ParseSerialSettings(const std::string& text) {
    static const std::regex indexes(R"(\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*)");
    static const std::regex words(R"(\s*(\d+|custom)\s+([5-8])([NOEMSnoems])(1\.5|1|2)\s*)");
    std::smatch m;
    if (std::regex_match(text, m, indexes))
        return ParseIndexes(m);
    if (std::regex_match(text, m, words))
        return ParseWords(m);
    throw Exception("not a serial setting: \"" + text +
                    "\" (write it as in 9600 8N1, or as four indexes as in 7,3,0,0)");
}

std::string FormatSerialSettings(const TSerialSettings& settings) {
    const std::uint32_t baud = settings.BaudRate & 0xFF;
    const std::uint32_t data = settings.DataBits & 0xFF;
    const std::uint32_t stop = settings.StopBits & 0xFF;
    const std::uint32_t parity = settings.Parity & 0xFF;
    if (baud >= KBaudRateCount || data >= KDataBitsCount || stop >= KStopBitsCount ||
        parity >= KParityCount)
        return std::to_string(baud) + "," + std::to_string(data) + "," + std::to_string(stop) +
               "," + std::to_string(parity) + " (not a setting of the serial port)";
    const std::string speed =
        baud == brCustom ? KCustomBaudWord
                         : std::to_string(BaudRateBitsPerSecond(static_cast<TBaudRate>(baud)));
    return speed + " " + std::to_string(KFewestDataBits + static_cast<int>(data)) +
           KParityLetters[parity] + KStopBitsWords[stop];
}
