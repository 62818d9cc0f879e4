#pragma once
// The program's side of the conversation with the unit's flash loader: contact (user or boot
// method), the line-speed switch, the identity request and its keep-alive, erase, program,
// verify and run, and the two image checksum tests.
//
// Wire conventions: raw bytes, numbers most significant byte first, four-byte command codes,
// one-byte replies. Every write discards unread input first (THalcotComPort::SendBuffer), so a
// reply's surplus bytes are thrown away by the next write.

#include "loader/userprompt.h"
#include "platform/application.h"
#include "platform/component.h"
#include "platform/controls.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "serial/comms.h"

#include <cstdint>
#include <string>

// A failure of the loader conversation.
class EFDTException : public Exception {
public:
    using Exception::Exception;
};

// How to reach the loader. The target fills it and hands it over by value; the ports and the
// prompt are the target's and are not owned here. ConnectPort and ProgramPort must be set;
// Prompt may be null (a silent prompt that never cancels).
struct TFullConnectionInfo {
    // 0 user method (the running firmware is told to enter its loader), 1 boot method (the
    // user resets the unit while the wake-up string is repeated); any other value: no contact
    // exchange at all.
    std::uint8_t Mode = 0;
    // Waits 200 ms after each change of line settings (the DTR line settles).
    bool UseDtr = false;
    // Settings holders, never opened: contact settings, and the settings after the switch.
    THalcotComPort* ConnectPort = nullptr;
    THalcotComPort* ProgramPort = nullptr;
    // In escape syntax ("%02" is the byte 0x02); decoded before use.
    std::string BootConnect;
    std::string UserConnect;
    std::string ConnectResponse;
    TUserPrompt* Prompt = nullptr;
};

// TFullConnectionInfo::Mode values.
inline constexpr std::uint8_t ConnectModeUser = 0;
inline constexpr std::uint8_t ConnectModeBoot = 1;

enum class TTransferMode { Program, Verify };

class TFlashFDTDevice : public TComponent {
public:
    explicit TFlashFDTDevice(TComponent* owner = nullptr);

    // Set while an operation talks to the loader; the keep-alive stays silent meanwhile.
    bool Busy = false;
    // Ticks every 1000 ms and runs KeepAlive.
    TTimer KeepAliveTimer;
    // Ends a running transfer after the block in progress (set it while the transfer pumps
    // messages).
    bool AbortRequested = false;
    // All loader traffic goes through this port; the caller opens and closes it.
    THalcotComPort Port;
    TLabel* StatusLabel = nullptr;
    TProgressBar* ProgressBar = nullptr;
    // Bytes per transferred block: 1 to MaxTransferBlockSize.
    int TransferBlockSize = 128;

    static constexpr int MaxTransferBlockSize = 256;

    void ShowStatus(const std::string& text);
    void ProgressStart(int max);
    void ProgressStep(int n);

    // value as four big-endian bytes, in one write.
    void SendLong(std::uint32_t value);
    // value as four big-endian bytes, then exactly replyCount reply bytes, in one exchange.
    void TransactLong(std::uint32_t value, void* reply, std::int32_t replyCount);

    // The loader's baud-rate register value R, rescaled from the current to the new line
    // speed (R * current / new, extended precision, rounded to single precision, truncated).
    // Raises EFDTException when newSpeed is not positive.
    static std::int64_t ScaleBaudRegister(std::uint8_t r, std::int32_t currentSpeed,
                                          std::int32_t newSpeed);

    // Makes contact by the record's method, switches unit and port to the programming
    // settings, asks the identity once and turns the keep-alive on. The port must be open.
    void Connect(TFullConnectionInfo info);
    void ConnectUser(const TFullConnectionInfo& info);
    void ConnectBoot(const TFullConnectionInfo& info);
    void SwitchBaudRate(const TFullConnectionInfo& info);

    // The unit's flash start, flash length, check seed and 20-character identity text.
    void GetId(std::uint32_t& start, std::uint32_t& length, std::uint16_t& seed, std::string& text);
    void Ping();
    // The keep-alive timer's handler: one identity request while the port is open and nothing
    // else runs. A failed one turns the timer off until the next successful Connect.
    void KeepAlive(TTimer* sender);

    // Erases from start up to, not including, end.
    void Erase(std::uint32_t start, std::uint32_t end);
    void ProgramImage(TStream& image, std::uint32_t address);
    void VerifyImage(TStream& image, std::uint32_t address);
    // Sends the whole image from position 0 in blocks of TransferBlockSize bytes.
    void TransferImage(TStream& image, std::uint32_t address, TTransferMode mode);
    // Starts the programmed firmware; nothing is read back.
    void Run();

    // The image's last two bytes (big-endian) hold the 16-bit sum, started at seed, of all its
    // other bytes. Fewer than two bytes raise the stream's read error.
    static bool ImageChecksumOk(TStream& image, std::uint16_t seed);
    // Some block end (counted in blockSize bytes from the start) holds, big-endian, the sum
    // started at seed of every byte before it; the first matching block end decides.
    // A blockSize of 0 raises EFDTException.
    static bool BlockChecksumOk(TStream& image, std::uint16_t seed, std::uint32_t blockSize);

private:
    struct TTransferState;
    void CheckTransferReply(const TTransferState& state, bool final);
};
