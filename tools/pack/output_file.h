#pragma once
// Writing a file so that nothing half-written is ever seen: the bytes go to a temporary file
// beside the target, which is renamed into place only once it is complete.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Raises Exception naming the file when it cannot be written; the target is then untouched.
void WriteFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes,
                        mode_t mode);

// The mode a new file gets from this process: 0666 less the umask.
mode_t NewFileMode();

// The permission bits (rwx for owner, group and others) of an existing file.
mode_t FileMode(const std::string& path);

// Raises Exception when the output is one of the inputs (a path to the same file), since
// writing it would change an input.
void CheckOutputIsNoInput(const std::string& output, const std::vector<std::string>& inputs);
