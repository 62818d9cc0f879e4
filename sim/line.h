#pragma once
// What a pseudo-terminal tells its master about the slave's line settings. A Linux pty keeps
// the speed and the stop bits that the slave asked for, but always reports 8 data bits and no
// parity, so those two cannot be read here.

#include <optional>

struct SimLineReading {
    int BitsPerSecond = 0;
    bool TwoStopBits = false; // 1.5 and 2 stop bits alike
};

// The slave's settings read through the master; empty when the pty cannot be asked.
std::optional<SimLineReading> ReadSlaveLine(int masterFd);
