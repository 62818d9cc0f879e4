#pragma once
// A read-only stream over memory that exists already, such as the stored image: reading and
// seeking work in place; a write stores nothing and reports 0 bytes.

#include "platform/streams.h"

class TExistingMemoryStream : public TCustomMemoryStream {
public:
    TExistingMemoryStream(const void* memory, std::int64_t size);

    std::int64_t Write(const void* buffer, std::int64_t count) override;
};
