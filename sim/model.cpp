#include "sim/model.h"

#include "platform/exceptions.h"
#include "sim/escapes.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// Commands of the flash loader, as they arrive: four bytes, most significant first.
constexpr std::uint32_t KIdentityCommand = 0x63DE3D96;
constexpr std::uint32_t KEraseCommand = 0xD768FEFA;
constexpr std::uint32_t KProgramCommand = 0xB7D6F53C;
constexpr std::uint32_t KVerifyCommand = 0x53E1A8D7;
constexpr std::uint32_t KRunCommand = 0xC33723C6;
constexpr std::uint32_t KCommands[] = {KIdentityCommand, KEraseCommand, KProgramCommand,
                                       KVerifyCommand, KRunCommand};
// The speed switch request is two bytes; no four-byte command starts with 0x44.
const std::string KSwitchRequest = "\x44\x05";
constexpr std::size_t KCommandBytes = 4;

constexpr char KErased = '$';
constexpr char KDeviceFailure = '%';
constexpr char KBlockAccepted = 0x00;
constexpr char KTransferFailure = '#';
constexpr char KTransferFinished = 0x22;
constexpr char KUnexpectedReply = '?';
constexpr std::uint8_t KContinue = 0x00;
constexpr std::uint8_t KAbort = 0xFF;

constexpr std::uint32_t KTransferBlockBytes = 128;
constexpr std::size_t KAddressBytes = 8; // start address and length
constexpr std::size_t KAckBytes = 5;
constexpr std::size_t KIdTextBytes = 20;
// A new port holds 9600 bits per second as its custom speed, and a package cannot store another.
constexpr int KCustomBitsPerSecond = 9600;

std::string CommandBytes(std::uint32_t command) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += static_cast<char>((command >> shift) & 0xFF);
    return bytes;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

void AppendBigEndian(std::string& bytes, std::uint32_t value, int size) {
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
}

std::string Hex(std::uint32_t value, int digits = 8) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return !tail.empty() && text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A complete reply of the right length that the host must not accept.
std::string Garbled(std::string bytes) {
    if (!bytes.empty())
        bytes.back() = static_cast<char>(bytes.back() ^ 0x20);
    return bytes;
}

std::string Printable(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '%') {
            text += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            text += escape;
        }
    }
    return "\"" + text + "\"";
}

void CheckSettings(const SimSerialSettings& settings, const char* which) {
    const std::string name = which;
    if (settings.BaudRate != brCustom && BaudRateBitsPerSecond(settings.BaudRate) <= 0)
        throw Exception(name + " settings: baud-rate index " +
                        std::to_string(int(settings.BaudRate)) + " is not a line speed");
    if (settings.DataBits > dbEight)
        throw Exception(name + " settings: data-bits index " +
                        std::to_string(int(settings.DataBits)) + " is out of range");
    if (settings.StopBits > sbTwoStopBits)
        throw Exception(name + " settings: stop-bits index " +
                        std::to_string(int(settings.StopBits)) + " is out of range");
    if (settings.Parity > prSpace)
        throw Exception(name + " settings: parity index " + std::to_string(int(settings.Parity)) +
                        " is out of range");
}

// The unit keeps its whole flash in memory: a length from a hand-made package or --length is
// refused with a plain message rather than ending in an allocation failure.
constexpr std::uint32_t KMaxFlashBytes = 256u << 20;

std::vector<std::uint8_t> ErasedFlash(std::uint32_t length) {
    if (length > KMaxFlashBytes)
        throw Exception("The flash length of " + std::to_string(length) +
                        " bytes is more than the simulated unit holds (at most " +
                        std::to_string(KMaxFlashBytes) + ")");
    return std::vector<std::uint8_t>(length, 0xFF);
}

} // namespace

double SimLine::BitsPerCharacter() const {
    const double stop = StopBits == sbOneStopBit ? 1.0 : StopBits == sbOne5StopBits ? 1.5 : 2.0;
    return 1.0 + (5 + int(DataBits)) + (Parity == prNone ? 0 : 1) + stop;
}

std::string SimLine::Describe() const {
    const char* stop = StopBits == sbOneStopBit ? "1" : StopBits == sbOne5StopBits ? "1.5" : "2";
    return std::to_string(BitsPerSecond) + " bits/s, " + stop + " stop bit" +
           (StopBits == sbOneStopBit ? "" : "s");
}

SimUnitModel::SimUnitModel(const SimConfig& config)
    : FConfig(config), FBootString(DecodeConnectString(config.BootConnect)),
      FUserString(DecodeConnectString(config.UserConnect)),
      FResponse(DecodeConnectString(config.ConnectResponse)),
      FFlash(ErasedFlash(config.FlashLength)) {
    if (config.IdText.size() > KIdTextBytes)
        throw Exception("The identity text \"" + config.IdText + "\" is longer than 20 bytes");
    if (config.FlashContents.size() > config.FlashLength)
        throw Exception("The flash contents (" + std::to_string(config.FlashContents.size()) +
                        " bytes) do not fit the flash of " + std::to_string(config.FlashLength) +
                        " bytes");
    if (config.ResetAfter && *config.ResetAfter < 0)
        throw Exception("The number of boot attempts before the reset must not be negative");
    CheckSettings(config.Connect, "Connect");
    CheckSettings(config.Program, "Programming");
    std::copy(config.FlashContents.begin(), config.FlashContents.end(), FFlash.begin());
}

std::vector<SimAction> SimUnitModel::TakeActions() {
    return std::exchange(FActions, {});
}

SimLine SimUnitModel::LineOf(const SimSerialSettings& settings) const {
    SimLine line;
    line.BitsPerSecond = settings.BaudRate == brCustom ? KCustomBitsPerSecond
                                                       : BaudRateBitsPerSecond(settings.BaudRate);
    line.DataBits = settings.DataBits;
    line.StopBits = settings.StopBits;
    line.Parity = settings.Parity;
    return line;
}

SimLine SimUnitModel::SwitchLine() const {
    SimLine line = ProgramLine();
    line.BitsPerSecond = ConnectLine().BitsPerSecond;
    return line;
}

SimLine SimUnitModel::ListeningLine() const {
    switch (FPhase) {
    case Phase::Connect:
        return ConnectLine();
    case Phase::AwaitSwitch:
    case Phase::AwaitRegister:
        return SwitchLine();
    default:
        return ProgramLine();
    }
}

SimLine SimUnitModel::ReplyLine() const {
    return ListeningLine();
}

bool SimUnitModel::Hears(const SimLineReading& reading) const {
    const auto matches = [&reading](const SimLine& line) {
        return reading.BitsPerSecond == line.BitsPerSecond &&
               reading.TwoStopBits == (line.StopBits != sbOneStopBit);
    };
    switch (FPhase) {
    case Phase::Deaf:
        return false;
    case Phase::AwaitRegister:
        // The host writes the new register value and reopens its port at the new speed at
        // once; on a pty that can happen before the byte is read here, so either speed counts.
        return matches(SwitchLine()) || matches(ProgramLine());
    default:
        return FStatus.State != SimUnitState::HungUp && matches(ListeningLine());
    }
}

bool SimUnitModel::FaultAt(SimFaultKind kind, int occurrence) const {
    return std::any_of(FConfig.Faults.begin(), FConfig.Faults.end(), [&](const SimFault& fault) {
        return fault.Kind == kind && (!fault.At || *fault.At == occurrence);
    });
}

bool SimUnitModel::InFlash(std::uint64_t address, std::uint64_t length) const {
    const std::uint64_t start = FConfig.FlashStart;
    return address >= start && address + length <= start + FConfig.FlashLength;
}

void SimUnitModel::Reply(SimExchange exchange, std::string bytes) {
    SimAction action;
    action.What = SimAction::Reply;
    action.Exchange = exchange;
    action.Bytes = std::move(bytes);
    action.Line = ReplyLine();
    FActions.push_back(std::move(action));
}

void SimUnitModel::Note(std::string text) {
    SimAction action;
    action.What = SimAction::Note;
    action.Bytes = std::move(text);
    FActions.push_back(std::move(action));
}

void SimUnitModel::Feed(std::uint8_t byte, bool heard) {
    if (FStatus.State == SimUnitState::HungUp)
        return;
    // The user acts first: the boot string that makes them reset the unit is then answered.
    WatchForReset(byte);
    if (!heard)
        return;
    if (FStatus.State == SimUnitState::Loader)
        FeedLoader(byte);
    else
        FeedFirmware(byte);
}

void SimUnitModel::WatchForReset(std::uint8_t byte) {
    if (!FConfig.ResetAfter || FStatus.State == SimUnitState::HeldInReset)
        return;
    FWatched += static_cast<char>(byte);
    if (FWatched.size() > FBootString.size())
        FWatched.erase(0, FWatched.size() - FBootString.size());
    if (!EndsWith(FWatched, FBootString))
        return;
    FWatched.clear();
    if (++FWatchedBootStrings > *FConfig.ResetAfter)
        ResetByUser();
}

void SimUnitModel::ResetByUser() {
    Note("reset: the user resets the unit after " + std::to_string(*FConfig.ResetAfter) +
         " boot connect strings; its boot loader waits");
    Become(SimUnitState::HeldInReset, Phase::Connect);
    ++FStatus.Resets;
    FWatchedBootStrings = 0;
}

void SimUnitModel::StartFirmware() {
    Become(SimUnitState::FirmwareRunning, Phase::Connect);
    FRecent.clear();
    FWatched.clear();
    FWatchedBootStrings = 0;
}

void SimUnitModel::EnterLoader(const char* how) {
    Note(std::string(how) + ": answered " + Printable(FResponse) + ", the flash loader starts");
    Become(SimUnitState::Loader, Phase::AwaitSwitch);
    FRecent.clear();
}

void SimUnitModel::Become(SimUnitState state, Phase phase) {
    FStatus.State = state;
    FStatus.LineSwitched = false;
    FPhase = phase;
    FReceiving = Receiving::Command;
    FPending.clear();
    FSkipped = 0;
}

void SimUnitModel::FeedFirmware(std::uint8_t byte) {
    FRecent += static_cast<char>(byte);
    const std::size_t keep = std::max(FBootString.size(), FUserString.size());
    if (FRecent.size() > keep)
        FRecent.erase(0, FRecent.size() - keep);
    if (FStatus.State == SimUnitState::FirmwareRunning && !FConfig.NoUserMethod &&
        EndsWith(FRecent, FUserString)) {
        FRecent.clear();
        AnswerUserString();
    } else if (EndsWith(FRecent, FBootString)) {
        FRecent.clear();
        AnswerBootString();
    }
}

void SimUnitModel::AnswerUserString() {
    const int occurrence = ++FUserStrings;
    if (FaultAt(SimFaultKind::NoReply, occurrence)) {
        Note("user connect: no reply (fault no-reply)");
    } else if (FaultAt(SimFaultKind::WrongReply, occurrence)) {
        Reply(SimExchange::UserConnect, Garbled(FResponse));
        Note("user connect: wrong reply " + Printable(Garbled(FResponse)) + " (fault wrong-reply)");
    } else {
        Reply(SimExchange::UserConnect, FResponse);
        ++FStatus.UserConnects;
        EnterLoader("user connect");
    }
}

void SimUnitModel::AnswerBootString() {
    const int occurrence = ++FBootStrings;
    ++FStatus.BootAttempts;
    const bool held = FStatus.State == SimUnitState::HeldInReset;
    const std::string attempt = "boot connect #" + std::to_string(occurrence);
    if (FaultAt(SimFaultKind::WrongBootReply, occurrence)) {
        Reply(SimExchange::BootConnect, Garbled(FResponse));
        Note(attempt + ": wrong reply " + Printable(Garbled(FResponse)) +
             " (fault wrong-boot-reply)");
    } else if (!held) {
        Note(attempt + ": the firmware runs and does not answer it");
    } else {
        Reply(SimExchange::BootConnect, FResponse);
        ++FStatus.BootConnects;
        EnterLoader(attempt.c_str());
    }
}

void SimUnitModel::FeedLoader(std::uint8_t byte) {
    switch (FPhase) {
    case Phase::AwaitRegister:
        CheckRegister(byte);
        return;
    case Phase::AwaitAck:
        FPending += static_cast<char>(byte);
        if (FPending.size() == KAckBytes)
            AnswerAck();
        return;
    case Phase::Deaf:
    case Phase::Connect:
        return;
    case Phase::AwaitSwitch:
    case Phase::Commands:
        break;
    }
    switch (FReceiving) {
    case Receiving::Command:
        ReceiveCommandByte(byte);
        break;
    case Receiving::Addresses:
        FPending += static_cast<char>(byte);
        if (FPending.size() == KAddressBytes) {
            if (FTransfer == Transfer::Erase)
                AnswerErase();
            else
                StartTransfer();
        }
        break;
    case Receiving::Block:
        FPending += static_cast<char>(byte);
        if (FPending.size() == std::min(FLength - FDone, KTransferBlockBytes))
            AnswerBlock();
        break;
    case Receiving::ControlByte:
        ReceiveControlByte(byte);
        break;
    }
}

void SimUnitModel::ReceiveCommandByte(std::uint8_t byte) {
    FPending += static_cast<char>(byte);
    // Drop leading bytes until what is left can still become a command.
    for (;;) {
        if (FPending == KSwitchRequest) {
            FPending.clear();
            AnswerSwitchRequest();
            return;
        }
        bool prefix = KSwitchRequest.starts_with(FPending);
        for (const std::uint32_t command : KCommands) {
            const std::string bytes = CommandBytes(command);
            if (FPending == bytes) {
                FPending.clear();
                Dispatch(command);
                return;
            }
            prefix = prefix || bytes.starts_with(FPending);
        }
        if (prefix || FPending.empty())
            return;
        FPending.erase(0, 1);
        ++FSkipped;
    }
}

void SimUnitModel::Dispatch(std::uint32_t command) {
    if (FSkipped > 0) {
        Note("loader: skipped " + std::to_string(FSkipped) + " bytes that were no command");
        FSkipped = 0;
    }
    switch (command) {
    case KIdentityCommand:
        AnswerIdentity();
        break;
    case KEraseCommand:
        FTransfer = Transfer::Erase;
        FReceiving = Receiving::Addresses;
        break;
    case KProgramCommand:
        FTransfer = Transfer::Program;
        FReceiving = Receiving::Addresses;
        break;
    case KVerifyCommand:
        FTransfer = Transfer::Verify;
        FReceiving = Receiving::Addresses;
        break;
    case KRunCommand:
        Run();
        break;
    }
}

void SimUnitModel::AnswerSwitchRequest() {
    if (FPhase != Phase::AwaitSwitch) {
        Note("speed switch: request ignored, the line is switched already");
        return;
    }
    if (FaultAt(SimFaultKind::NoBaudRegister, ++FSwitchRequests)) {
        Note("speed switch: no register value (fault no-baud-register)");
        return;
    }
    Reply(SimExchange::BaudRegister, std::string(1, static_cast<char>(FConfig.BaudRegister)));
    FPhase = Phase::AwaitRegister;
}

void SimUnitModel::CheckRegister(std::uint8_t value) {
    const SimLine program = ProgramLine();
    // The register value scales inversely with the line speed; exact integer arithmetic,
    // truncated, and only its low eight bits travel.
    const std::uint64_t scaled = std::uint64_t(FConfig.BaudRegister) *
                                 std::uint64_t(ConnectLine().BitsPerSecond) /
                                 std::uint64_t(program.BitsPerSecond);
    const auto expected = static_cast<std::uint8_t>(scaled & 0xFF);
    const std::string sent =
        "speed switch: sent register " + Hex(FConfig.BaudRegister, 2) + ", got " + Hex(value, 2);
    if (value != expected) {
        Note(sent + ", but " + std::to_string(program.BitsPerSecond) + " bits/s needs " +
             Hex(expected, 2) + ": the unit now listens at another speed");
        FPhase = Phase::Deaf;
        return;
    }
    Note(sent + ": the line switches to " + program.Describe());
    FPhase = Phase::AwaitAck;
    FPending.clear();
}

void SimUnitModel::AnswerAck() {
    std::string echo = std::exchange(FPending, {});
    FPhase = Phase::Commands;
    FStatus.LineSwitched = true;
    const int occurrence = ++FAcks;
    if (FaultAt(SimFaultKind::NoAck, occurrence)) {
        Note("speed switch: got " + Printable(echo) + ", no echo (fault no-ack)");
        return;
    }
    std::string fault;
    if (FaultAt(SimFaultKind::BadAck, occurrence)) {
        echo.back() = static_cast<char>(echo.back() ^ 0x01);
        fault = " (fault bad-ack)";
    }
    Reply(SimExchange::Ack, echo);
    ++FStatus.Switches;
    Note("speed switch: echoed " + Printable(echo) + fault);
}

void SimUnitModel::AnswerIdentity() {
    if (FaultAt(SimFaultKind::IdTimeout, ++FIdentities)) {
        Note("identity: no reply (fault id-timeout)");
        return;
    }
    std::string reply;
    AppendBigEndian(reply, FConfig.CheckSeed, 2);
    AppendBigEndian(reply, FConfig.FlashStart, 4);
    AppendBigEndian(reply, FConfig.FlashLength, 4);
    std::string text = FConfig.IdText;
    text.resize(KIdTextBytes, '\0');
    reply += text;
    Reply(SimExchange::Identity, reply);
    ++FStatus.Identities;
    Note("identity: seed " + Hex(FConfig.CheckSeed, 4) + ", flash " + Hex(FConfig.FlashStart) +
         " + " + Hex(FConfig.FlashLength));
}

void SimUnitModel::AnswerErase() {
    const std::uint32_t start = BigEndian32(FPending, 0);
    const std::uint32_t length = BigEndian32(FPending, 4);
    FPending.clear();
    FReceiving = Receiving::Command;
    const int occurrence = ++FEraseRequests;
    const std::string what = "erase " + Hex(start) + " + " + Hex(length) + ": ";
    const bool inside = InFlash(start, length);
    const auto erase = [&] {
        std::fill_n(FFlash.begin() + (start - FConfig.FlashStart), length, 0xFF);
    };
    if (FaultAt(SimFaultKind::EraseFail, occurrence)) {
        Reply(SimExchange::Erase, std::string(1, KDeviceFailure));
        Note(what + "\"%\" (fault erase-fail)");
    } else if (FaultAt(SimFaultKind::EraseUnexpected, occurrence)) {
        Reply(SimExchange::Erase, std::string(1, KUnexpectedReply));
        Note(what + "\"?\" (fault erase-unexpected)");
    } else if (FaultAt(SimFaultKind::EraseTimeout, occurrence)) {
        if (inside)
            erase();
        Note(what + "no reply (fault erase-timeout)");
    } else if (!inside) {
        Reply(SimExchange::Erase, std::string(1, KDeviceFailure));
        Note(what + "\"%\", the range lies outside the flash");
    } else {
        erase();
        Reply(SimExchange::Erase, std::string(1, KErased));
        ++FStatus.Erases;
        Note(what + "\"$\"");
    }
}

void SimUnitModel::StartTransfer() {
    FAddress = BigEndian32(FPending, 0);
    FLength = BigEndian32(FPending, 4);
    FPending.clear();
    FDone = 0;
    FBlock = 0;
    FReceiving = FLength == 0 ? Receiving::ControlByte : Receiving::Block;
    Note(std::string(FTransfer == Transfer::Program ? "program" : "verify") + " " + Hex(FAddress) +
         " + " + Hex(FLength) + ": started");
}

void SimUnitModel::AnswerBlock() {
    const std::string data = std::exchange(FPending, {});
    const int block = ++FBlock;
    const std::uint64_t address = std::uint64_t(FAddress) + FDone;
    const std::string what = std::string(FTransfer == Transfer::Program ? "program" : "verify") +
                             " block " + std::to_string(block) + " at " +
                             Hex(static_cast<std::uint32_t>(address)) + ": ";
    const auto fail = [&](char reply, const std::string& why) {
        Reply(SimExchange::Block, std::string(1, reply));
        Note(what + why);
        EndTransfer();
    };
    if (FaultAt(SimFaultKind::BlockFail, block))
        return fail(KTransferFailure, "\"#\" (fault block-fail)");
    if (FaultAt(SimFaultKind::BlockUnexpected, block))
        return fail(KTransferFinished, "0x22 (fault block-unexpected)");
    if (FaultAt(SimFaultKind::BlockTimeout, block)) {
        Note(what + "no reply (fault block-timeout)");
        return EndTransfer();
    }
    if (!InFlash(address, data.size()))
        return fail(KTransferFailure, "\"#\", the block lies outside the flash");
    const std::size_t offset = address - FConfig.FlashStart;
    if (FTransfer == Transfer::Verify) {
        const auto differs = std::mismatch(
            data.begin(), data.end(), FFlash.begin() + offset,
            [](char sent, std::uint8_t held) { return static_cast<std::uint8_t>(sent) == held; });
        if (differs.first != data.end())
            return fail(KTransferFailure, "\"#\", the flash differs at " +
                                              Hex(static_cast<std::uint32_t>(
                                                  address + (differs.first - data.begin()))));
    } else {
        // Flash cells only go from 1 to 0 when programmed; erasing sets them back to 1.
        for (std::size_t i = 0; i < data.size(); ++i)
            FFlash[offset + i] &= static_cast<std::uint8_t>(data[i]);
    }
    FDone += static_cast<std::uint32_t>(data.size());
    Reply(SimExchange::Block, std::string(1, KBlockAccepted));
    FReceiving = Receiving::ControlByte;
    if (FaultAt(SimFaultKind::Hangup, block)) {
        Note(what + "accepted, then the unit hangs up (fault hangup)");
        FActions.push_back(SimAction{SimAction::Hangup, {}, {}, {}});
        FStatus.State = SimUnitState::HungUp;
    }
}

void SimUnitModel::ReceiveControlByte(std::uint8_t byte) {
    const bool more = FDone < FLength;
    if (byte == KContinue && more) {
        FReceiving = Receiving::Block;
    } else if (byte == KContinue || byte == KAbort) {
        AnswerFinal(byte == KAbort);
    } else {
        Reply(SimExchange::Final, std::string(1, KTransferFailure));
        Note("transfer: unexpected byte " + Hex(byte, 2) + " after block " +
             std::to_string(FBlock) + ", answered \"#\"");
        EndTransfer();
    }
}

void SimUnitModel::AnswerFinal(bool aborted) {
    const bool program = FTransfer == Transfer::Program;
    std::string what = std::string(program ? "program" : "verify") + " " + Hex(FAddress) + " + " +
                       Hex(FLength) + ": " + std::to_string(FBlock) + " blocks" +
                       (aborted ? ", aborted by the host" : "") + ", final ";
    const int occurrence = ++FFinals;
    if (FaultAt(SimFaultKind::FinalFail, occurrence)) {
        Reply(SimExchange::Final, std::string(1, KTransferFailure));
        what += "\"#\" (fault final-fail)";
    } else if (FaultAt(SimFaultKind::FinalUnexpected, occurrence)) {
        Reply(SimExchange::Final, std::string(1, '\0'));
        what += "0x00 (fault final-unexpected)";
    } else {
        Reply(SimExchange::Final, std::string(1, KTransferFinished));
        what += "0x22";
        if (!aborted)
            ++(program ? FStatus.Programs : FStatus.Verifies);
    }
    Note(what);
    FActions.push_back(SimAction{SimAction::FlashSettled, {}, {}, {}});
    EndTransfer();
}

void SimUnitModel::EndTransfer() {
    FReceiving = Receiving::Command;
    FPending.clear();
}

void SimUnitModel::Run() {
    ++FStatus.Runs;
    Note("run: the new firmware starts");
    FActions.push_back(SimAction{SimAction::FlashSettled, {}, {}, {}});
    StartFirmware();
}
