#include "target/h83664.h"

#include "package/storeexe.h"
#include "target/defaults.h"

namespace {

constexpr const char* DefaultPortName = "COM1";

constexpr std::uint8_t VerifyPadOnly = 0;
constexpr std::uint8_t VerifyBlockChecksums = 1;
constexpr std::uint8_t VerifyImageChecksum = 2;

constexpr std::uint8_t PadByte = 0xFF;

constexpr const char* BlockSizeZeroMessage = "Block size must not be zero";
constexpr const char* ImageSizeMessage = "Flash Size doesn't match Image Size";
constexpr const char* ChecksumMessage = "Flash and Image Checksums don't match";

void SetDefaultLineSettings(THalcotComPort& port) {
    port.SetPort(DefaultPortName);
    port.SetBaudRate(br9600);
    port.SetDataBits(dbEight);
    port.SetStopBits(sbOneStopBit);
    TComParity parity = port.Parity();
    parity.Bits = prNone;
    port.SetParity(parity);
}

void RequireBlockSize(std::int64_t blockSize) {
    if (blockSize == 0)
        throw EHitachiFlashException(BlockSizeZeroMessage);
}

} // namespace

THitachiFlash::THitachiFlash(TComponent* owner, TLabel* status, TProgressBar* bar,
                             std::unique_ptr<TUserPrompt> prompt)
    : TComponent(owner), Device(this), FConnectPort(this), FProgramPort(this),
      FPrompt(prompt ? std::move(prompt) : std::make_unique<TUserPrompt>()) {
    ConnectionInfo.ConnectPort = &FConnectPort;
    ConnectionInfo.ProgramPort = &FProgramPort;
    ConnectionInfo.Prompt = FPrompt.get();
    // Called here, a virtual runs this class's own version.
    SetDefaults();
    Device.StatusLabel = status;
    Device.ProgressBar = bar;
}

void THitachiFlash::SetDefaults() {
    ConnectionInfo.Mode = ConnectModeBoot;
    SetDefaultLineSettings(FConnectPort);
    SetDefaultLineSettings(FProgramPort);
    ConnectionInfo.BootConnect = DefaultBootConnect;
    ConnectionInfo.UserConnect = DefaultUserConnect;
    ConnectionInfo.ConnectResponse = DefaultConnectResponse;
}

void THitachiFlash::ResetUserConnect() {
    ConnectionInfo.UserConnect = DefaultUserConnect;
}

void THitachiFlash::Configure(const TConnectionSelection& selection) {
    if (!selection.Port)
        throw EHitachiFlashException("No serial port selected");
    ConnectionInfo.Mode = selection.Mode;
    FConnectPort.SetPort(selection.Port->Port());
    // The user method runs at the line settings of the user's port; the boot method keeps the
    // ones this holder already has.
    if (selection.Mode == ConnectModeUser)
        FConnectPort.CopySettings(*selection.Port);
    ConnectionInfo.UseDtr = selection.UseDtr;

    TComFlowControl flow = FConnectPort.FlowControl();
    flow.SetFlowControl(fcNone);
    flow.ControlRTS = rtsDisable;
    flow.ControlDTR = selection.UseDtr ? dtrEnable : dtrDisable;
    FConnectPort.SetFlowControl(flow);

    // The programming line settings stay those of the definition.
    FProgramPort.SetPort(FConnectPort.Port());
    FProgramPort.SetFlowControl(FConnectPort.FlowControl());

    // A supplied prompt serves this connection; otherwise the target's own.
    ConnectionInfo.Prompt = selection.Prompt ? selection.Prompt : FPrompt.get();
}

void THitachiFlash::Connect() {
    Device.Port.SetPort(FConnectPort.Port());
    Device.Port.CopySettings(FConnectPort);
    Device.Port.SetConnected(true);
    Device.Connect(ConnectionInfo);
    CheckId();
}

void THitachiFlash::CheckId() {
    std::string text;
    std::uint16_t seed = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    GetId(text, seed, start, length);
    // The identity text is not part of the definition.
    if (seed != FlashCheckSeed || start != FlashStart || length != FlashLength)
        throw EHitachiFlashException("Flash uP does not match definition");
}

void THitachiFlash::GetId(std::string& text, std::uint16_t& seed, std::uint32_t& start,
                          std::uint32_t& length) {
    Device.GetId(start, length, seed, text);
}

void THitachiFlash::Erase() {
    Device.Erase(FlashStart, FlashStart + FlashLength);
}

void THitachiFlash::ProgramImage(TStream& stream) {
    WriteImage(stream, true);
}

void THitachiFlash::VerifyImage(TStream& stream) {
    WriteImage(stream, false);
}

void THitachiFlash::WriteImage(TStream& stream, bool program) {
    // Refused before anything goes to the unit.
    CheckBlockMultiple(stream, Device.TransferBlockSize);
    if (program)
        Device.ProgramImage(stream, FlashStart);
    else
        Device.VerifyImage(stream, FlashStart);
}

void THitachiFlash::CheckBlockMultiple(TStream& stream, std::int32_t blockSize) {
    RequireBlockSize(blockSize);
    if (stream.Size() % blockSize != 0)
        throw Exception("Buffer size is not a multiple of the programming block size");
}

void THitachiFlash::PadToBlock(TStream& stream, std::int32_t blockSize) {
    RequireBlockSize(blockSize);
    const std::int64_t size = stream.Size();
    const std::int64_t remainder = size % blockSize;
    if (remainder != 0)
        PadStream(stream, size + blockSize - remainder, PadByte);
}

void THitachiFlash::CheckImage(TStream& stream) {
    const std::int64_t size = stream.Size();
    const std::int64_t flashLength = FlashLength;
    switch (FlashVerification) {
    case VerifyPadOnly:
        if (size > flashLength)
            throw EFDTException(ImageSizeMessage);
        PadToBlock(stream, Device.TransferBlockSize);
        break;
    case VerifyBlockChecksums:
        if (size > flashLength)
            throw EFDTException(ImageSizeMessage);
        RequireBlockSize(FlashBlockSize);
        if (size % FlashBlockSize != 0)
            throw EFDTException("Image size not a multiple of the block size");
        if (!TFlashFDTDevice::BlockChecksumOk(stream, FlashCheckSeed, FlashBlockSize))
            throw EFDTException(ChecksumMessage);
        CheckBlockMultiple(stream, Device.TransferBlockSize);
        break;
    case VerifyImageChecksum:
        if (size != flashLength)
            throw EFDTException(ImageSizeMessage);
        if (!TFlashFDTDevice::ImageChecksumOk(stream, FlashCheckSeed))
            throw EFDTException(ChecksumMessage);
        CheckBlockMultiple(stream, Device.TransferBlockSize);
        break;
    default:
        break;
    }
}

void THitachiFlash::Run() {
    Device.Run();
}

void THitachiFlash::Disconnect() {
    Device.Port.SetConnected(false);
}

void PadStream(TStream& stream, std::int64_t newSize, std::uint8_t fill) {
    const std::int64_t size = stream.Size();
    if (size >= newSize)
        return;
    stream.SetPosition(size);
    while (stream.Position() < newSize)
        stream.WriteBuffer(&fill, 1);
}

// The package accessor's two operations that write into the target live here, beside what
// they fill.

void TExeProgrammingInfo::ApplyTo(THitachiFlash& flash) const {
    flash.FlashCheckSeed = FlashCheckSeed();
    flash.FlashStart = FlashStart();
    flash.FlashLength = FlashLength();
    flash.FlashBlockSize = FlashBlockSize();
    flash.FlashVerification = FlashVerification();
    ApplyComSettings(ComConnectRecord(), *flash.ConnectionInfo.ConnectPort);
    ApplyComSettings(ComProgramRecord(), *flash.ConnectionInfo.ProgramPort);
    flash.ConnectionInfo.BootConnect = BootConnect();
    flash.ConnectionInfo.UserConnect = UserConnect();
    flash.ConnectionInfo.ConnectResponse = ConnectResponse();
}

void TExeProgrammingInfo::ApplyComSettings(const std::uint8_t* record, TComPort& port) const {
    // Four little-endian u32: baud rate, data bits, stop bits, parity; only the low byte of
    // each counts. The port refuses an index outside its tables when it opens.
    auto lowByte = [record](int index) { return record[index * 4]; };
    port.SetBaudRate(static_cast<TBaudRate>(lowByte(0)));
    port.SetDataBits(static_cast<TDataBits>(lowByte(1)));
    port.SetStopBits(static_cast<TStopBits>(lowByte(2)));
    TComParity parity = port.Parity();
    parity.Bits = static_cast<TParityBits>(lowByte(3));
    port.SetParity(parity);
}

namespace {
// The failure that ends the connection is the one to report, not a second one from closing.
void DisconnectAfterFailure(THitachiFlash& flash) noexcept {
    try {
        flash.Disconnect();
    } catch (...) {
    }
}
} // namespace

void ConnectUserThenBoot(THitachiFlash& flash, TConnectionSelection& selection,
                         const std::function<bool(const std::string& failure)>& askBootMethod) {
    selection.Mode = ConnectModeUser;
    flash.Configure(selection);
    std::string failure;
    try {
        flash.Connect();
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    // Closed before the question, which may wait for the user as long as they like.
    flash.Disconnect();
    if (!askBootMethod(failure))
        throw EHitachiFlashException(ConnectCancelledText);

    selection.Mode = ConnectModeBoot;
    try {
        flash.Configure(selection);
        flash.Connect();
    } catch (...) {
        DisconnectAfterFailure(flash);
        throw;
    }
}
