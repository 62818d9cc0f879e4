#include "package/exist_ms.h"

#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

TEST(TExistingMemoryStream, ReadsInPlaceFromPositionZero) {
    const std::array<std::uint8_t, 6> memory{1, 2, 3, 4, 5, 6};
    TExistingMemoryStream stream(memory.data(), memory.size());
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Size(), 6);
    std::array<std::uint8_t, 4> out{};
    EXPECT_EQ(stream.Read(out.data(), 4), 4);
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(stream.Read(out.data(), 4), 2);
}

TEST(TExistingMemoryStream, WriteStoresNothing) {
    std::array<std::uint8_t, 16> memory{};
    memory.fill(0xAA);
    TExistingMemoryStream stream(memory.data(), memory.size());
    stream.SetPosition(3);
    const std::array<std::uint8_t, 10> data{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

    EXPECT_EQ(stream.Write(data.data(), 10), 0);
    stream.SetSize(100);

    for (std::uint8_t byte : memory)
        EXPECT_EQ(byte, 0xAA);
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_EQ(stream.Size(), 16);
    EXPECT_THROW(stream.WriteBuffer(data.data(), 10), EWriteError);
}

} // namespace
