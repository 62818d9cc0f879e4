#pragma once
// The flash target: the flash definition of the unit, the serial settings and connect strings
// derived from it, and the operations of a programming run, in the order the run calls them:
// Configure, Connect, Erase, ProgramImage, VerifyImage, Run, and Disconnect whatever happened.
// Failures of the device, the port and the prompt reach the caller unchanged; nothing here
// closes the port on failure (Disconnect does).

#include "loader/fdt.h"
#include "loader/userprompt.h"
#include "platform/component.h"
#include "platform/controls.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "serial/comms.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// A failure of the flash target, and the user's cancel of a run.
class EHitachiFlashException : public Exception {
public:
    using Exception::Exception;
};

// What a programming run reports when the user stops it before the transfer.
inline constexpr const char* ConnectCancelledText = "Connect Cancelled by User";

// The window's choice for the next connection.
struct TConnectionSelection {
    // ConnectModeUser or ConnectModeBoot.
    std::uint8_t Mode = ConnectModeUser;
    bool UseDtr = false;
    // The user's port (its name, and for the user method its line settings); not owned.
    const THalcotComPort* Port = nullptr;
    // Optional: a prompt to use for the connection instead of the target's own; not owned.
    TUserPrompt* Prompt = nullptr;
};

class THitachiFlash : public TComponent {
public:
    // status and bar go to the device (either may be null); the prompt is the one the boot
    // method shows (the window passes its dialog).
    THitachiFlash(TComponent* owner, TLabel* status, TProgressBar* bar,
                  std::unique_ptr<TUserPrompt> prompt = std::make_unique<TUserPrompt>());

    TFlashFDTDevice Device;
    // The flash definition.
    std::uint16_t FlashCheckSeed = 0;
    std::uint32_t FlashStart = 0;
    std::uint32_t FlashLength = 0;
    std::uint32_t FlashBlockSize = 0;
    // CheckImage's test: 0 none (pad to whole blocks), 1 block checksums, 2 whole-image
    // checksum; any other value accepts every image.
    std::uint8_t FlashVerification = 0;
    // ConnectPort, ProgramPort and Prompt point at the target's own components (Prompt at a
    // supplied one after a Configure that names it).
    TFullConnectionInfo ConnectionInfo;

    virtual void ResetUserConnect();
    virtual void CheckImage(TStream& stream);
    virtual void SetDefaults();

    // Takes the choice of method and port for the next Connect. Never opens or closes a port.
    void Configure(const TConnectionSelection& selection);
    // Opens the device port, makes contact, switches the speed and checks the identity. After
    // a failure the port may be left open: call Disconnect.
    void Connect();
    void CheckId();
    void GetId(std::string& text, std::uint16_t& seed, std::uint32_t& start, std::uint32_t& length);
    void Erase();
    void ProgramImage(TStream& stream);
    void VerifyImage(TStream& stream);
    void WriteImage(TStream& stream, bool program);
    static void CheckBlockMultiple(TStream& stream, std::int32_t blockSize);
    static void PadToBlock(TStream& stream, std::int32_t blockSize);
    void Run();
    // Closes the device port; nothing happens when it is closed.
    void Disconnect();

private:
    THalcotComPort FConnectPort;
    THalcotComPort FProgramPort;
    std::unique_ptr<TUserPrompt> FPrompt;
};

// Extends the stream at its end with fill bytes to exactly newSize, leaving the position at the
// new end; a stream of newSize bytes or more is left alone. A stream that cannot store the
// bytes fails with the stream write error.
void PadStream(TStream& stream, std::int64_t newSize, std::uint8_t fill);

// The connection of a programming run, shared by the window and the console: the user method
// first; when it fails in any way, the port is closed and askBootMethod is given the failure's
// message. Any answer but true ends with EHitachiFlashException "Connect Cancelled by User";
// true tries the boot method once (UseDtr stays as it is), and its failure closes the port and
// reaches the caller unchanged. On success the port is open and the unit identified.
void ConnectUserThenBoot(THitachiFlash& flash, TConnectionSelection& selection,
                         const std::function<bool(const std::string& failure)>& askBootMethod);
