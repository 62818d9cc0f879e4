#pragma once
// Serial settings as a package stores them (four enumeration indexes) and as people write them:
// "9600 8N1", "57600 8E1", "115200 7O2"; parity N, O, E, M (mark) or S (space); stop bits 1,
// 1.5 or 2. The manifest also takes the four indexes themselves: "7,3,0,0".

#include "platform/comport.h"

#include <cstdint>
#include <string>

struct TSerialSettings {
    std::uint32_t BaudRate = br9600;
    std::uint32_t DataBits = dbEight;
    std::uint32_t StopBits = sbOneStopBit;
    std::uint32_t Parity = prNone;

    bool operator==(const TSerialSettings&) const = default;
};

// Raises Exception with the reason (the caller names the file and the field).
TSerialSettings ParseSerialSettings(const std::string& text);

// Words where every index is one of the port's; otherwise the indexes with a note. Only the
// low byte of each stored value counts, as for the program.
std::string FormatSerialSettings(const TSerialSettings& settings);
