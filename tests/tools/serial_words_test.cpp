#include "tools/pack/serial_words.h"

#include "platform/exceptions.h"

#include <gtest/gtest.h>

namespace {

TEST(SerialWords, ParsesWordsAndIndexes) {
    struct Case {
        const char* text;
        TSerialSettings settings;
        const char* canonical;
    };
    const Case cases[] = {
        {"9600 8N1", {7, 3, 0, 0}, "9600 8N1"},
        {"57600 8E1", {12, 3, 0, 2}, "57600 8E1"},
        {"115200 7O2", {13, 2, 2, 1}, "115200 7O2"},
        {"110 5M1.5", {1, 0, 1, 3}, "110 5M1.5"},
        {"256000 6s1", {15, 1, 0, 4}, "256000 6S1"},
        {"custom 8N1", {0, 3, 0, 0}, "custom 8N1"},
        {"7,3,0,0", {7, 3, 0, 0}, "9600 8N1"},
        {" 12 , 3 , 2 , 4 ", {12, 3, 2, 4}, "57600 8S2"},
    };
    for (const Case& c : cases) {
        const TSerialSettings parsed = ParseSerialSettings(c.text);
        EXPECT_EQ(parsed, c.settings) << c.text;
        EXPECT_EQ(FormatSerialSettings(parsed), c.canonical) << c.text;
    }
}

TEST(SerialWords, RefusesWhatThePortCannotDo) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"9601 8N1", "no such line speed: 9601"},
        {"9600 9N1", "not a serial setting"},
        {"9600 4N1", "not a serial setting"},
        {"9600 8X1", "not a serial setting"},
        {"9600 8N3", "not a serial setting"},
        {"9600", "not a serial setting"},
        {"", "not a serial setting"},
        {"7,3,0", "not a serial setting"},
        {"16,3,0,0", "line speed index 16 is outside 0 to 15"},
        {"7,4,0,0", "data bits index 4 is outside 0 to 3"},
        {"7,3,3,0", "stop bits index 3 is outside 0 to 2"},
        {"7,3,0,5", "parity index 5 is outside 0 to 4"},
        {"99999999999,3,0,0", "line speed index 99999999999 is outside"},
    };
    for (const Case& c : cases) {
        try {
            ParseSerialSettings(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find(c.reason), std::string::npos)
                << c.text << ": " << e.Message();
        }
    }
}

TEST(SerialWords, FormatsWhatAHandMadePackageMayHold) {
    // Only the low byte counts, as for the program; what is outside the tables stays visible.
    EXPECT_EQ(FormatSerialSettings({0x107, 3, 0, 0}), "9600 8N1");
    EXPECT_EQ(FormatSerialSettings({7, 3, 9, 0}), "7,3,9,0 (not a setting of the serial port)");
}

} // namespace
