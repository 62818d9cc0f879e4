#pragma once
// The programming run from the console, on the same core as the window's run: the package
// checked as at start-up, the user method first, the boot method after a failed one if the
// user agrees, then erase, program, verify and run. The port is closed on every path.

#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "package/storeexe.h"
#include "platform/streams.h"
#include "serial/comms.h"
#include "target/h83664.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int ExitProgrammed = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// 128 + the signal, as a shell reports a program ended by it: 130 after Ctrl-C.
inline constexpr int ExitSignalBase = 128;

class TConsoleRun {
public:
    // The watch's signals cancel or abort the run; status and progress go to status.
    TConsoleRun(const TCliOptions& options, TConsoleStatus& status, TInterruptWatch& watch);
    ~TConsoleRun();
    TConsoleRun(const TConsoleRun&) = delete;
    TConsoleRun& operator=(const TConsoleRun&) = delete;

    // The whole run; writes the outcome as one line to outcome and returns the exit code.
    int Execute(std::FILE* outcome);

private:
    // The start-up check of the package; raises the failing step's exception.
    void LoadPackage();
    void ConnectUnit();
    bool AskBootMethod(const std::string& failure);
    void ProgramStoredImage();
    void FlashSequence(TStream& image);
    void Transfer(TStream& image, bool program);
    // The run ends at its next step after a signal.
    void StopIfInterrupted() const;
    void OnInterrupt();
    void DisconnectQuietly() noexcept;

    const TCliOptions& FOptions;
    TConsoleStatus& FStatus;
    TInterruptWatch& FWatch;
    std::vector<std::uint8_t> FReleaseBlock;
    std::unique_ptr<TExeProgrammingInfo> FInfo;
    // The user's port: only its name and settings are used, it is never opened.
    THalcotComPort FUserPort;
    TConnectionSelection FSelection;
    std::unique_ptr<THitachiFlash> FFlash;
    bool FTransferring = false;
};
