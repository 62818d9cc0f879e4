#include "package/release_file.h"

#include "package/block.h"
#include "package/layout.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void RaiseFileError(const std::string& path, const std::string& what) {
    throw Exception(path + ": " + what);
}

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : FFd(fd) {}
    ~TFileDescriptor() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

bool StartsWithLocator(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= PackageLayout::LocatorSize &&
           std::equal(PackageLocator(), PackageLocator() + PackageLayout::LocatorSize,
                      bytes.begin());
}

} // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        RaiseFileError(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        RaiseFileError(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        RaiseFileError(path, "not a regular file");

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            RaiseFileError(path, std::strerror(errno));
        if (n == 0)
            break; // the file shrank while we read it
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::vector<std::size_t> FindLocators(const std::vector<std::uint8_t>& bytes) {
    const std::boyer_moore_horspool_searcher locator(PackageLocator(),
                                                     PackageLocator() + PackageLayout::LocatorSize);
    std::vector<std::size_t> found;
    auto from = bytes.begin();
    while (found.size() < 2) {
        const auto at = std::search(from, bytes.end(), locator);
        if (at == bytes.end())
            break;
        found.push_back(static_cast<std::size_t>(at - bytes.begin()));
        from = at + 1;
    }
    return found;
}

std::vector<std::uint8_t> ReadPackageBlockFromFile(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    // A package file is exactly one block; its payload is not searched, since an image may
    // hold anything.
    if (bytes.size() == PackageLayout::BlockSize && StartsWithLocator(bytes))
        return bytes;

    const std::vector<std::size_t> locators = FindLocators(bytes);
    if (locators.empty())
        RaiseFileError(path, "no package block (the locator does not occur)");
    if (locators.size() > 1)
        RaiseFileError(path, "more than one package block (the locator occurs twice)");
    const std::size_t start = locators.front();
    if (bytes.size() - start < PackageLayout::BlockSize)
        RaiseFileError(path, "the package block is truncated (" +
                                 std::to_string(bytes.size() - start) + " of " +
                                 std::to_string(PackageLayout::BlockSize) + " bytes)");
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(start);
    return {first, first + static_cast<std::ptrdiff_t>(PackageLayout::BlockSize)};
}
