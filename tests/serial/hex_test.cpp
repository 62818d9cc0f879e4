#include "serial/hex.h"

#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

TEST(DecodeEscapes, TurnsEscapedTextIntoTheExactBytes) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"", ""},
        {"ABC", "\x41\x42\x43"},
        {"%02AB%03", "\x02\x41\x42\x03"},
        {"%4a", "\x4A"},
        {"%4A", "\x4A"},
        {"J", "\x4A"},
        {"%aB", "\xAB"},
        {"A%00B", "A\0B"s},
        {"%00%00", "\0\0"s},
        {"%FF", "\xFF"},
        {"%25", "%"},
        {"%2541", "\x25\x34\x31"}, // the percent sign the escape made starts nothing
        {"a b\xE9", "a b\xE9"},    // spaces and bytes above 0x7F stand for themselves
        {"%0D%0A", "\r\n"},
    };
    for (const Case& c : cases) {
        const std::string decoded = DecodeEscapes(c.text);
        EXPECT_EQ(decoded, c.bytes) << c.text;
        EXPECT_EQ(decoded.size(), c.bytes.size()) << c.text;
    }
}

TEST(DecodeEscapes, MalformedEscapesFailWithTheirMessage) {
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"%%41", "Can't convert non-hex character: %"},
        {"AB%", "String too short to convert"},
        {"AB%4", "String too short to convert"},
        {"%G1", "Can't convert non-hex character: G"},
        {"%1G", "Can't convert non-hex character: G"},
        {"%GZ", "Can't convert non-hex character: G"}, // the first digit is named
        {"% 1", "Can't convert non-hex character:  "},
        {"OK%0", "String too short to convert"},
        {"%4\x00"s, "Can't convert non-hex character: \0"s},
    };
    for (const Case& c : cases) {
        try {
            const std::string decoded = DecodeEscapes(c.text);
            ADD_FAILURE() << c.text << ": decoded to " << decoded.size() << " bytes";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.text;
        }
    }
}

TEST(HexDigits, ValueOfEachDigitAndRefusalJustOutsideTheRanges) {
    struct Case {
        char digit;
        int value;
    };
    const Case digits[] = {{'0', 0},  {'9', 9},  {'A', 10}, {'F', 15},
                           {'a', 10}, {'f', 15}, {'c', 12}};
    for (const Case& c : digits)
        EXPECT_EQ(HexDigitValue(c.digit), c.value) << c.digit;

    for (const char c : {'/', ':', 'G', 'g', '@', '`', ' ', '\xFF'}) {
        try {
            HexDigitValue(c);
            ADD_FAILURE() << "accepted " << c;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Can't convert non-hex character: "s + c);
        }
    }
}

TEST(HexDigits, ByteValueReadsTheFirstTwoCharactersOnly) {
    EXPECT_EQ(HexByteValue("7F9"), 127);
    EXPECT_EQ(HexByteValue("00"), 0);
    EXPECT_EQ(HexByteValue("fF"), 255);
    // "G": the length test comes before any digit is looked at.
    for (const std::string s : {"", "7", "G"}) {
        try {
            HexByteValue(s);
            ADD_FAILURE() << "accepted '" << s << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "String too short to convert");
        }
    }
}

TEST(ByteOrder, SwapsExchangeTheBytesAndUndoThemselves) {
    EXPECT_EQ(SwapWord(0x1234), 0x3412);
    EXPECT_EQ(SwapWord(0x00FF), 0xFF00);
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapLong(0x000000FFu), 0xFF000000u);
    EXPECT_EQ(SwapLong(0x80000001u), 0x01000080u);
    for (const std::uint16_t v : {0x0000, 0x0102, 0xFFFE, 0x8001})
        EXPECT_EQ(SwapWord(SwapWord(v)), v);
    for (const std::uint32_t v : {0x00000000u, 0x01020304u, 0xFFFFFFFEu, 0x80000001u})
        EXPECT_EQ(SwapLong(SwapLong(v)), v);

    // On this little-endian host, the swapped value lies in memory in wire order.
    const std::uint32_t wire = SwapLong(0x00012345u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&wire);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(bytes[2], 0x23);
    EXPECT_EQ(bytes[3], 0x45);
}
