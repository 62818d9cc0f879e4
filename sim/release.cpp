// The unit's definition taken from a programming package, read the way the program reads it.
#include "sim/unit.h"

#include "package/layout.h"
#include "package/storeexe.h"

namespace {

// A stored settings record: four little-endian u32, of which only the low byte counts.
SimSerialSettings ReadSettingsRecord(const std::uint8_t* record) {
    constexpr std::size_t fieldBytes = 4;
    SimSerialSettings settings;
    settings.BaudRate = static_cast<TBaudRate>(record[0 * fieldBytes]);
    settings.DataBits = static_cast<TDataBits>(record[1 * fieldBytes]);
    settings.StopBits = static_cast<TStopBits>(record[2 * fieldBytes]);
    settings.Parity = static_cast<TParityBits>(record[3 * fieldBytes]);
    return settings;
}

} // namespace

void SimConfig::LoadRelease(const std::vector<std::uint8_t>& block) {
    if (block.size() != PackageLayout::BlockSize)
        throw EStoredDataError("A package block has " + std::to_string(PackageLayout::BlockSize) +
                               " bytes, not " + std::to_string(block.size()));
    const TExeProgrammingInfo info(ValidateStoredData(block.data()));
    info.CheckVersion();
    FlashStart = info.FlashStart();
    FlashLength = info.FlashLength();
    CheckSeed = info.FlashCheckSeed();
    Connect = ReadSettingsRecord(info.ComConnectRecord());
    Program = ReadSettingsRecord(info.ComProgramRecord());
    BootConnect = info.BootConnect();
    UserConnect = info.UserConnect();
    ConnectResponse = info.ConnectResponse();
}
