#pragma once
// Byte streams: the abstract TStream, a stream over memory that exists already, and a growable
// memory stream that owns its bytes.

#include <cstdint>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    TStream() = default;
    virtual ~TStream() = default;
    // A copied memory stream would read through the original's pointer: streams are not copied.
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Read and Write move up to count bytes and return how many they moved (0 to count).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    virtual std::int64_t Size();
    // The base stream cannot change its size: this does nothing.
    virtual void SetSize(std::int64_t newSize);

    // All or fail: EReadError / EWriteError when fewer than count bytes move.
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
};

// Reads and seeks over a block of memory given by address and size. It never owns, copies or
// frees the memory. Writing is left to the derived classes: here it stores nothing.
class TCustomMemoryStream : public TStream {
public:
    TCustomMemoryStream() = default;
    TCustomMemoryStream(const void* memory, std::int64_t size) { SetPointer(memory, size); }

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return FSize; }

    const std::uint8_t* Memory() const noexcept { return FMemory; }

protected:
    void SetPointer(const void* memory, std::int64_t size);

    const std::uint8_t* FMemory = nullptr;
    std::int64_t FSize = 0;
    std::int64_t FPosition = 0;
};

// A memory stream that owns its bytes and grows as it is written.
class TMemoryStream : public TCustomMemoryStream {
public:
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void SetSize(std::int64_t newSize) override;

    std::uint8_t* Data() noexcept { return FData.data(); }

private:
    std::vector<std::uint8_t> FData;
};
