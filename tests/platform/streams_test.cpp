#include "platform/exceptions.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

TEST(MemoryStream, GrowsOnWriteAndReadsBack) {
    TMemoryStream s;
    s.WriteBuffer("abcdef", 6);
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.Position(), 6);
    s.SetPosition(2);
    char out[4] = {};
    EXPECT_EQ(s.Read(out, 10), 4);
    EXPECT_EQ(std::string(out, 4), "cdef");
    EXPECT_EQ(s.Read(out, 1), 0);
}

TEST(MemoryStream, WriteAfterTheEndFillsTheGapWithZeros) {
    TMemoryStream s;
    s.SetPosition(3);
    s.WriteBuffer("x", 1);
    ASSERT_EQ(s.Size(), 4);
    EXPECT_EQ(std::memcmp(s.Memory(), "\0\0\0x", 4), 0);
}

TEST(MemoryStream, SeekFromEachOrigin) {
    TMemoryStream s;
    s.WriteBuffer("0123456789", 10);
    EXPECT_EQ(s.Seek(4, TSeekOrigin::soBeginning), 4);
    EXPECT_EQ(s.Seek(-2, TSeekOrigin::soCurrent), 2);
    EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), 9);
    EXPECT_EQ(s.Seek(-100, TSeekOrigin::soCurrent), 0) << "never before the start";
}

TEST(MemoryStream, ShrinkingKeepsThePositionInside) {
    TMemoryStream s;
    s.WriteBuffer("0123456789", 10);
    s.SetSize(4);
    EXPECT_EQ(s.Size(), 4);
    EXPECT_EQ(s.Position(), 4);
}

TEST(CustomMemoryStream, ReadsExistingMemoryAndStoresNothing) {
    const std::array<std::uint8_t, 3> bytes{1, 2, 3};
    TCustomMemoryStream s(bytes.data(), bytes.size());
    std::uint8_t out[3] = {};
    s.ReadBuffer(out, 3);
    EXPECT_EQ(out[2], 3);
    EXPECT_THROW(s.ReadBuffer(out, 1), EReadError);
    s.SetPosition(0);
    EXPECT_EQ(s.Write("z", 1), 0);
    EXPECT_EQ(s.Position(), 0);
    s.SetSize(100);
    EXPECT_EQ(s.Size(), 3);
}

TEST(StreamErrors, CarryTheirTexts) {
    TCustomMemoryStream s(nullptr, 0);
    try {
        s.WriteBuffer("a", 1);
        FAIL() << "no write error";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), "Stream write error");
    }
    try {
        char c;
        s.ReadBuffer(&c, 1);
        FAIL() << "no read error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
}

TEST(Exceptions, MessageCanBeReplaced) {
    Exception e("one");
    e.SetMessage("two");
    EXPECT_EQ(e.Message(), "two");
    EXPECT_STREQ(e.what(), "two");
}

TEST(Exceptions, PortErrorAppendsTheSystemErrorNumber) {
    EComPort e(ComPortError::Open, 16);
    EXPECT_EQ(e.Message(), "Unable to open com port (win error code: 16)");
    EXPECT_EQ(e.ErrorCode(), 16);
}
