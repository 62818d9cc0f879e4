#include "platform/streams.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cstring>

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
    const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize(std::int64_t) {}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count > 0 && Read(buffer, count) != count)
        throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    if (count > 0 && Write(buffer, count) != count)
        throw EWriteError();
}

void TCustomMemoryStream::SetPointer(const void* memory, std::int64_t size) {
    FMemory = static_cast<const std::uint8_t*>(memory);
    FSize = std::max<std::int64_t>(size, 0);
}

std::int64_t TCustomMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || FPosition >= FSize)
        return 0;
    const std::int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FMemory + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

std::int64_t TCustomMemoryStream::Write(const void*, std::int64_t) { return 0; }

std::int64_t TCustomMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    switch (origin) {
    case TSeekOrigin::soBeginning:
        FPosition = offset;
        break;
    case TSeekOrigin::soCurrent:
        FPosition += offset;
        break;
    case TSeekOrigin::soEnd:
        FPosition = FSize + offset;
        break;
    }
    // A position past the end is allowed (a write there grows the stream); before the start
    // it is not.
    FPosition = std::max<std::int64_t>(FPosition, 0);
    return FPosition;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    const std::int64_t end = FPosition + count;
    if (end > FSize)
        SetSize(end);
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
    newSize = std::max<std::int64_t>(newSize, 0);
    FData.resize(static_cast<std::size_t>(newSize), 0);
    SetPointer(FData.data(), newSize);
    FPosition = std::min(FPosition, newSize);
}
