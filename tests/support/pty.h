#pragma once
// A pseudo-terminal for tests: the code under test opens the slave by its path like any serial
// port; the test plays the peer on the master side.

#include <chrono>
#include <cstdint>
#include <string>

class TestPty {
public:
    TestPty();
    ~TestPty();
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    const std::string& SlavePath() const { return FSlavePath; }
    int Master() const { return FMaster; }

    // Writes all bytes to the master side.
    void Send(const std::string& bytes);
    // Reads from the master side until count bytes are in or the time is up; returns what came.
    std::string Receive(std::size_t count, std::chrono::milliseconds timeout);
    // Everything that is waiting now, after at most the given quiet time.
    std::string Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));

private:
    int FMaster = -1;
    int FSlaveKeep = -1; // keeps the slave side alive between the opens of the code under test
    std::string FSlavePath;
};
