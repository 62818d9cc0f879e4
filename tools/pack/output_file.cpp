#include "tools/pack/output_file.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void RaiseWriteError(const std::string& path, int error) {
    throw Exception(path + ": cannot write: " + std::strerror(error));
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void WriteFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes,
                        mode_t mode) {
    std::string temp = DirectoryOf(path) + "/." + BaseNameOf(path) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        RaiseWriteError(path, errno);
    int failure = 0;
    if (!WriteAll(fd, bytes) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temp.c_str());
        RaiseWriteError(path, failure);
    }
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

mode_t FileMode(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw Exception(path + ": " + std::strerror(errno));
    return info.st_mode & 0777;
}

void CheckOutputIsNoInput(const std::string& output, const std::vector<std::string>& inputs) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0)
        return; // a new file cannot be an input
    for (const std::string& input : inputs) {
        struct stat in {};
        if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            throw Exception(output + ": the output would overwrite the input " + input);
    }
}
