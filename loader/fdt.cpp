#include "loader/fdt.h"

#include "platform/scopeguard.h"
#include "serial/hex.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Command codes, sent big-endian as four bytes.
constexpr std::uint32_t IdentityCommand = 0x63DE3D96;
constexpr std::uint32_t EraseCommand = 0xD768FEFA;
constexpr std::uint32_t ProgramCommand = 0xB7D6F53C;
constexpr std::uint32_t VerifyCommand = 0x53E1A8D7;
constexpr std::uint32_t RunCommand = 0xC33723C6;
// The line-speed switch: request the baud-rate register, then the echo at the new speed.
constexpr std::uint8_t BaudRegisterRequest[] = {0x44, 0x05};
constexpr char SwitchAcknowledge[] = {'A', 'B', 'C', 'D', 'E'};

// Reply and continuation bytes.
constexpr std::uint8_t EraseDone = '$';
constexpr std::uint8_t EraseDeviceFailure = '%';
constexpr std::uint8_t BlockAccepted = 0x00;
constexpr std::uint8_t TransferFailed = '#';
constexpr std::uint8_t TransferFinished = 0x22;
constexpr std::uint8_t NextBlock = 0x00;
constexpr std::uint8_t FinalDone = 0x00;
constexpr std::uint8_t FinalAbort = 0xFF;

// The identity reply: seed (2), flash start (4), flash length (4), text (20).
constexpr int IdentityReplyBytes = 30;
constexpr int IdentitySeedOffset = 0;
constexpr int IdentityStartOffset = 2;
constexpr int IdentityLengthOffset = 6;
constexpr int IdentityTextOffset = 10;
constexpr int IdentityTextBytes = 20;

// Read time limits: each is left on the port for the operations that follow.
constexpr std::int32_t BootAttemptTimeoutMs = 100;
constexpr std::int32_t SwitchTimeoutMs = 500;
constexpr std::int32_t EraseTimeoutMs = 5000;
constexpr std::int32_t AfterEraseTimeoutMs = 500;
constexpr std::int32_t TransferTimeoutMs = 5000;

// Waits, all of which keep the window alive.
constexpr std::int32_t DtrSettleMs = 200;
constexpr std::int32_t BeforeSwitchMs = 500;
constexpr std::int32_t BeforeFirstBlockMs = 100;

constexpr int KeepAliveIntervalMs = 1000;
constexpr int BootAttempts = 100;

constexpr const char* ConnectingText = "Connecting...";
constexpr const char* ResetUnitText = "Reset the Unit";
constexpr const char* ErasingText = "Erasing FLASH...";

struct TTransferTexts {
    std::uint32_t Command;
    const char* Status;
    const char* NoReply;
    const char* Unexpected;
    const char* FailedAt; // followed by " at address 0x... (...)."
};

constexpr TTransferTexts ProgramTexts{ProgramCommand, "Programming FLASH...",
                                      "Write Failed: No reply",
                                      "Write Failed: Unexpected Response.", "Write Failed"};
constexpr TTransferTexts VerifyTexts{VerifyCommand, "Verifying FLASH...",
                                     "Verify Failed: No Reply.",
                                     "Verify Failed: Unexpected Response.", "Verify Failed"};

// The wire is big-endian and SwapLong / SwapWord turn host order into it.
static_assert(std::endian::native == std::endian::little,
              "the wire helpers assume a little-endian host");

// Marks the device busy for the caller's scope and puts the flag back as it was.
auto BusyFor(bool& busy) {
    const bool was = std::exchange(busy, true);
    return TScopeGuard([&busy, was] { busy = was; });
}

// Runs an exchange; any failure of the port (time-out or port error) becomes message.
template <typename Exchange> void ReplacingFailure(const char* message, Exchange&& exchange) {
    try {
        exchange();
    } catch (const Exception&) {
        throw EFDTException(message);
    }
}

template <typename T> T LoadHostOrder(const std::uint8_t* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::string FailedAtMessage(const char* prefix, std::int64_t offset) {
    char text[96];
    std::snprintf(text, sizeof text, "%s at address 0x%08" PRIX64 " (%" PRId64 ").", prefix,
                  static_cast<std::uint64_t>(offset), offset);
    return text;
}

void AddByte(std::uint16_t& sum, std::uint8_t byte) {
    sum = static_cast<std::uint16_t>(sum + byte);
}

std::uint16_t ReadStoredSum(TStream& image) {
    std::uint8_t stored[2];
    image.ReadBuffer(stored, 2);
    return static_cast<std::uint16_t>(stored[0] << 8 | stored[1]);
}

} // namespace

struct TFlashFDTDevice::TTransferState {
    const TTransferTexts& Texts;
    TStream& Image;
    std::int64_t BlockLen = 0;
    std::uint8_t Reply = 0;
};

TFlashFDTDevice::TFlashFDTDevice(TComponent* owner)
    : TComponent(owner), KeepAliveTimer(this), Port(this) {
    KeepAliveTimer.OnTimer = [this](TTimer* sender) { KeepAlive(sender); };
    KeepAliveTimer.SetInterval(KeepAliveIntervalMs);
    KeepAliveTimer.SetEnabled(true);
}

void TFlashFDTDevice::ShowStatus(const std::string& text) {
    if (StatusLabel)
        StatusLabel->SetCaption(text);
}

void TFlashFDTDevice::ProgressStart(int max) {
    if (!ProgressBar)
        return;
    ProgressBar->SetMin(0);
    ProgressBar->SetMax(max);
    ProgressBar->SetStep(1);
    ProgressBar->SetPosition(0);
}

void TFlashFDTDevice::ProgressStep(int n) {
    if (ProgressBar)
        ProgressBar->StepBy(n);
}

void TFlashFDTDevice::SendLong(std::uint32_t value) {
    const std::uint32_t wire = SwapLong(value);
    Port.SendBuffer(&wire, sizeof wire);
}

void TFlashFDTDevice::TransactLong(std::uint32_t value, void* reply, std::int32_t replyCount) {
    const std::uint32_t wire = SwapLong(value);
    Port.Transact(&wire, sizeof wire, reply, replyCount);
}

std::int64_t TFlashFDTDevice::ScaleBaudRegister(std::uint8_t r, std::int32_t currentSpeed,
                                                std::int32_t newSpeed) {
    // A zero speed would divide by zero and leave a value no integer can hold.
    if (newSpeed <= 0)
        throw EFDTException("Line speed must be greater than zero");
    // The loader's own arithmetic: extended precision, then single precision, then truncation.
    // Rounding to single first is what turns 26.999999999999996 into 27.
    const long double scaled =
        static_cast<long double>(currentSpeed) / static_cast<long double>(newSpeed) * r;
    return static_cast<std::int64_t>(static_cast<float>(scaled));
}

void TFlashFDTDevice::Connect(TFullConnectionInfo info) {
    const auto busy = BusyFor(Busy);
    if (!info.ConnectPort || !info.ProgramPort)
        throw EFDTException("Connection settings are missing");
    Port.SetPort(info.ConnectPort->Port());
    Port.CopySettings(*info.ConnectPort);
    if (info.UseDtr)
        Port.Delay(DtrSettleMs);
    if (info.Mode == ConnectModeUser)
        ConnectUser(info);
    else if (info.Mode == ConnectModeBoot)
        ConnectBoot(info);
    Port.Delay(BeforeSwitchMs);
    SwitchBaudRate(info);
    Ping();
    KeepAliveTimer.SetEnabled(true);
}

void TFlashFDTDevice::ConnectUser(const TFullConnectionInfo& info) {
    ShowStatus(ConnectingText);
    ProgressStart(1);
    const std::string expected = DecodeEscapes(info.ConnectResponse);
    const std::string command = DecodeEscapes(info.UserConnect);
    // Runs under whatever time limit the port holds: the user method sets none of its own.
    std::string reply(expected.size(), '\0');
    ReplacingFailure("No reply to start command", [&] {
        Port.Transact(command.data(), static_cast<std::int32_t>(command.size()), reply.data(),
                      static_cast<std::int32_t>(reply.size()));
    });
    if (reply != expected)
        throw EFDTException("Reply doesn't match");
    ProgressStep(1);
}

void TFlashFDTDevice::ConnectBoot(const TFullConnectionInfo& info) {
    ShowStatus(ConnectingText);
    ProgressStart(BootAttempts);
    const std::string expected = DecodeEscapes(info.ConnectResponse);
    const std::string command = DecodeEscapes(info.BootConnect);
    Port.SetTimeout(BootAttemptTimeoutMs);

    TUserPrompt silentPrompt;
    TUserPrompt& prompt = info.Prompt ? *info.Prompt : silentPrompt;
    prompt.ShowPrompt(ResetUnitText);
    const TScopeGuard hidePrompt([&prompt] { prompt.HidePrompt(); });

    // One complete but wrong reply anywhere decides the final message.
    bool sawWrongReply = false;
    std::string reply(expected.size(), '\0');
    for (int attempt = 0; attempt < BootAttempts; ++attempt) {
        try {
            Port.Transact(command.data(), static_cast<std::int32_t>(command.size()), reply.data(),
                          static_cast<std::int32_t>(reply.size()));
            if (reply == expected) {
                ProgressStart(1);
                ProgressStep(1);
                return;
            }
            sawWrongReply = true;
        } catch (const EHalcotComTimeout&) {
            // The user's Cancel is a window message: it is only seen if messages are handled.
            Application::ProcessMessages();
        }
        if (prompt.Cancelled())
            throw EFDTException("Connect Cancelled by User");
        ProgressStep(1);
    }
    throw EFDTException(sawWrongReply ? "Unexpected reply to connect command"
                                      : "No reply to connect command");
}

void TFlashFDTDevice::SwitchBaudRate(const TFullConnectionInfo& info) {
    const THalcotComPort& program = *info.ProgramPort;
    Port.SetTimeout(SwitchTimeoutMs);
    // The register is asked for at the connect speed but with the programming character format.
    Port.SetParity(program.Parity());
    Port.SetDataBits(program.DataBits());
    Port.SetStopBits(program.StopBits());

    std::uint8_t registerValue = 0;
    ReplacingFailure("Baud Rate Register not received", [&] {
        Port.Transact(BaudRegisterRequest, sizeof BaudRegisterRequest, &registerValue, 1);
    });
    const std::int64_t scaled =
        ScaleBaudRegister(registerValue, Port.BaudValue(), program.BaudValue());
    const auto newRegister = static_cast<std::uint8_t>(scaled & 0xFF);
    ReplacingFailure("Couldn't send Baud Rate Register", [&] { Port.SendBuffer(&newRegister, 1); });

    // Closing the port lets the register byte go out at the old speed before the new one.
    Port.CopySettings(program);
    if (info.UseDtr)
        Port.Delay(DtrSettleMs);

    char echo[sizeof SwitchAcknowledge] = {};
    ReplacingFailure("Acknowledge data not received", [&] {
        Port.Transact(SwitchAcknowledge, sizeof SwitchAcknowledge, echo, sizeof echo);
    });
    if (!std::equal(std::begin(echo), std::end(echo), std::begin(SwitchAcknowledge)))
        throw EFDTException("Acknowledge data doesn't match");
}

void TFlashFDTDevice::GetId(std::uint32_t& start, std::uint32_t& length, std::uint16_t& seed,
                            std::string& text) {
    const auto busy = BusyFor(Busy);
    std::uint8_t reply[IdentityReplyBytes] = {};
    ReplacingFailure("Can't Get ID",
                     [&] { TransactLong(IdentityCommand, reply, IdentityReplyBytes); });
    seed = SwapWord(LoadHostOrder<std::uint16_t>(reply + IdentitySeedOffset));
    start = SwapLong(LoadHostOrder<std::uint32_t>(reply + IdentityStartOffset));
    length = SwapLong(LoadHostOrder<std::uint32_t>(reply + IdentityLengthOffset));
    text.assign(reinterpret_cast<const char*>(reply + IdentityTextOffset), IdentityTextBytes);
}

void TFlashFDTDevice::Ping() {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint16_t seed = 0;
    std::string text;
    GetId(start, length, seed, text);
}

void TFlashFDTDevice::KeepAlive(TTimer* /*sender*/) {
    if (!Port.Connected() || Busy)
        return;
    try {
        Ping();
    } catch (...) {
        // One report, then silence until the next successful Connect turns the timer on.
        KeepAliveTimer.SetEnabled(false);
        throw;
    }
}

void TFlashFDTDevice::Erase(std::uint32_t start, std::uint32_t end) {
    const auto busy = BusyFor(Busy);
    AbortRequested = false;
    ShowStatus(ErasingText);
    ProgressStart(1);
    SendLong(EraseCommand);
    SendLong(start);

    std::uint8_t reply = 0;
    {
        Port.SetTimeout(EraseTimeoutMs);
        const TScopeGuard restoreTimeout([this] { Port.SetTimeout(AfterEraseTimeoutMs); });
        // No reply within the limit passes on as the port's own time-out.
        TransactLong(end - start, &reply, 1);
    }
    if (reply == EraseDeviceFailure)
        throw EFDTException("Erase Failed: Device Failure");
    if (reply != EraseDone)
        throw EFDTException("Erase Failed: Unexpected Reply");
    Ping();
    ProgressStep(1);
}

void TFlashFDTDevice::ProgramImage(TStream& image, std::uint32_t address) {
    TransferImage(image, address, TTransferMode::Program);
}

void TFlashFDTDevice::VerifyImage(TStream& image, std::uint32_t address) {
    TransferImage(image, address, TTransferMode::Verify);
}

void TFlashFDTDevice::TransferImage(TStream& image, std::uint32_t address, TTransferMode mode) {
    const auto busy = BusyFor(Busy);
    // The block buffer is fixed; a zero block size would never finish.
    if (TransferBlockSize < 1 || TransferBlockSize > MaxTransferBlockSize)
        throw EFDTException("Transfer block size must lie between 1 and 256");
    const TTransferTexts& texts = mode == TTransferMode::Program ? ProgramTexts : VerifyTexts;
    const std::int64_t size = image.Size();
    AbortRequested = false;

    ShowStatus(texts.Status);
    ProgressStart(static_cast<int>(size));
    SendLong(texts.Command);
    SendLong(address);
    SendLong(static_cast<std::uint32_t>(size));
    Port.Delay(BeforeFirstBlockMs);
    Port.SetTimeout(TransferTimeoutMs);

    image.SetPosition(0);
    TTransferState state{texts, image};
    std::uint8_t block[MaxTransferBlockSize];
    std::int64_t remaining = size;
    while (remaining > 0) {
        state.BlockLen = std::min<std::int64_t>(remaining, TransferBlockSize);
        const auto blockLen = static_cast<std::int32_t>(state.BlockLen);
        image.ReadBuffer(block, blockLen);
        ReplacingFailure(texts.NoReply, [&] { Port.Transact(block, blockLen, &state.Reply, 1); });
        CheckTransferReply(state, false);
        ProgressStep(blockLen);
        remaining -= blockLen;
        // The only way into a running transfer: whatever runs here may request the abort.
        Application::ProcessMessages();
        if (AbortRequested)
            break;
        if (remaining > 0)
            Port.SendBuffer(&NextBlock, 1);
    }

    const std::uint8_t final = AbortRequested ? FinalAbort : FinalDone;
    ReplacingFailure(texts.NoReply, [&] { Port.Transact(&final, 1, &state.Reply, 1); });
    CheckTransferReply(state, true);
    Ping();
    if (AbortRequested)
        throw EFDTException("Programming Aborted by User.");
}

void TFlashFDTDevice::CheckTransferReply(const TTransferState& state, bool final) {
    if (state.Reply == TransferFailed) {
        // The offset of the block sent last; 0 for an empty image, where none was sent.
        const std::int64_t offset = state.Image.Position() - state.BlockLen;
        const EFDTException failure(FailedAtMessage(state.Texts.FailedAt, offset));
        // The loader must still answer; if it does not, that is the failure to report.
        Ping();
        throw failure;
    }
    const std::uint8_t expected = final ? TransferFinished : BlockAccepted;
    if (state.Reply != expected)
        throw EFDTException(state.Texts.Unexpected);
}

void TFlashFDTDevice::Run() {
    const auto busy = BusyFor(Busy);
    SendLong(RunCommand);
}

bool TFlashFDTDevice::ImageChecksumOk(TStream& image, std::uint16_t seed) {
    image.SetPosition(0);
    std::uint16_t sum = seed;
    const std::int64_t summed = image.Size() - 2;
    for (std::int64_t i = 0; i < summed; ++i) {
        std::uint8_t byte = 0;
        image.ReadBuffer(&byte, 1);
        AddByte(sum, byte);
    }
    return ReadStoredSum(image) == sum;
}

bool TFlashFDTDevice::BlockChecksumOk(TStream& image, std::uint16_t seed, std::uint32_t blockSize) {
    if (blockSize == 0)
        throw EFDTException("Block size must not be zero");
    image.SetPosition(0);
    std::uint16_t sum = seed;
    const std::int64_t size = image.Size();
    while (image.Position() < size - 2) {
        std::uint8_t byte = 0;
        image.ReadBuffer(&byte, 1);
        AddByte(sum, byte);
        // At a block end's last two bytes: they may be the checksum, or ordinary bytes.
        if ((image.Position() + 2) % blockSize == 0) {
            if (ReadStoredSum(image) == sum)
                return true;
            image.Seek(-2, TSeekOrigin::soCurrent);
        }
    }
    return false;
}
