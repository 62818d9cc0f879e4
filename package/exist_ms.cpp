#include "package/exist_ms.h"

TExistingMemoryStream::TExistingMemoryStream(const void* memory, std::int64_t size)
    : TCustomMemoryStream(memory, size) {}

std::int64_t TExistingMemoryStream::Write(const void*, std::int64_t) {
    return 0;
}
