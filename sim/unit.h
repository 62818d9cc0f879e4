#pragma once
// The simulated unit: the loader's side of the serial conversation, served on a pseudo-terminal
// that the unit opens itself. The host under test opens SlavePath() like any serial port.
//
//     SimConfig cfg;                         // defaults: flash 0x2000 + 0x3E000, seed 0, 9600 8N1
//     cfg.Faults.push_back(ParseSimFault("block-fail@3"));
//     SimulatedUnit unit(cfg);               // opens the pty
//     unit.Start();                          // serves from its own thread
//     ... host opens unit.SlavePath() and programs ...
//     unit.WaitFor([](const SimStatus& s) { return s.Runs >= 1; }, 10s);
//     EXPECT_EQ(unit.Flash(), expected);
//
// The host blocks its thread in every serial read, so the unit always serves from its own
// thread; every accessor below is safe to call from any thread while it serves.

#include "platform/comport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Faults the unit can be told to commit. Each names what appears on the wire.
enum class SimFaultKind {
    NoReply,         // "no-reply": the firmware hears the user connect string and stays silent
    WrongReply,      // "wrong-reply": the user connect string gets a wrong reply of full length
    WrongBootReply,  // "wrong-boot-reply": a boot connect string gets a wrong reply
    NoBaudRegister,  // "no-baud-register": the switch request gets no register value
    BadAck,          // "bad-ack": the "ABCDE" echo comes back with its last byte changed
    NoAck,           // "no-ack": no "ABCDE" echo
    IdTimeout,       // "id-timeout": an identity request gets no reply
    EraseFail,       // "erase-fail": erase answers "%" and erases nothing
    EraseUnexpected, // "erase-unexpected": erase answers a byte that is neither "$" nor "%"
    EraseTimeout,    // "erase-timeout": erase erases but never answers
    BlockFail,       // "block-fail@K": block K answers "#" and the transfer ends
    BlockUnexpected, // "block-unexpected@K": block K answers 0x22 and the transfer ends
    BlockTimeout,    // "block-timeout@K": block K gets no reply and the transfer ends
    FinalFail,       // "final-fail": the final byte answers "#"
    FinalUnexpected, // "final-unexpected": the final byte answers 0x00
    Hangup,          // "hangup@K": the unit closes its side of the line after answering block K
    Noise,           // "noise": unsolicited bytes right after every reply, before the next request
    ExtraReplyBytes, // "extra-reply-bytes": every reply carries bytes beyond its length
    SlowReply,       // "slow-reply": every reply comes just inside the host's time limit
};

// A fault and the occurrence it applies to. Occurrences count from 1 over the unit's life
// (the N-th user connect string, boot connect string, identity request, erase, ...); for the
// block faults and hangup, At is the block number within each transfer. No At: every
// occurrence (for hangup, the first block).
struct SimFault {
    SimFaultKind Kind = SimFaultKind::Noise;
    std::optional<int> At;

    bool operator==(const SimFault&) const = default;
};

// Parses "NAME" or "NAME@N" as listed above. Raises Exception with a message that names the
// bad text (unknown name, N missing or not a positive number, @N on noise, extra-reply-bytes
// or slow-reply).
SimFault ParseSimFault(const std::string& text);
// The name the parser accepts for a kind, such as "block-fail".
std::string SimFaultName(SimFaultKind kind);

// Line settings as the programming package stores them: indexes into the port's enumerations.
struct SimSerialSettings {
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;

    bool operator==(const SimSerialSettings&) const = default;
};

struct SimConfig {
    // The unit's flash and identity.
    std::uint32_t FlashStart = 0x2000;
    std::uint32_t FlashLength = 0x3E000;
    std::uint16_t CheckSeed = 0;
    std::string IdText = "H8/3664F unit sim"; // at most 20 bytes; zero-padded on the wire
    // Flash contents at start (at most FlashLength bytes, the rest 0xFF). Empty: all 0xFF.
    std::vector<std::uint8_t> FlashContents;
    // The loader's baud-rate register value at the connect speed, sent in the speed switch.
    std::uint8_t BaudRegister = 103;

    // What the host should use: the connect settings until the speed switch, the programming
    // settings after it. brCustom stands for 9600 bits per second, as on a new port.
    SimSerialSettings Connect;
    SimSerialSettings Program;
    // Connect strings as stored, in the %XX escape form.
    std::string BootConnect = "TeMoKPaZ";
    std::string UserConnect = "%02QD7315%03";
    std::string ConnectResponse = "TeMoKPaZ";

    // The user resets the unit after this many boot connect strings (counted since the firmware
    // last started); the next one is then answered. None: the user never resets it.
    std::optional<int> ResetAfter;
    // The firmware does not know the user connect string, which forces the boot method.
    bool NoUserMethod = false;
    // Answer whatever the line settings of the host are.
    bool LenientLine = false;
    // Move bytes no faster than the line would (start, data, parity and stop bits at the baud
    // rate of the settings in force).
    bool WireTiming = false;
    std::vector<SimFault> Faults;

    // Keep the exchange lines in memory for Trace().
    bool KeepTrace = true;
    // Non-empty: write each exchange line to this file as it happens.
    std::string TracePath;
    // Set: called with each exchange line as it happens, on the serving thread.
    std::function<void(const std::string&)> OnTrace;
    // Non-empty: write the flash here after every completed program, verify or run, and when
    // the unit stops. Written to a temporary file and renamed, so it is never half-written.
    std::string FlashOutPath;
    // Non-empty: make this path a symlink to the slave while the unit exists. An existing
    // symlink there is replaced; anything else there is refused.
    std::string LinkPath;

    // Takes the flash definition, both serial settings records and the three connect strings
    // from a package block (458776 bytes, checked as the program checks it). Raises the
    // package's own exceptions for a bad block.
    void LoadRelease(const std::vector<std::uint8_t>& block);
};

enum class SimUnitState {
    FirmwareRunning, // answers the user connect string
    HeldInReset,     // its boot loader answers the boot connect string
    Loader,          // in the flash loader
    HungUp,          // hangup fault: its side of the line is closed
};

// What the unit has done so far.
struct SimStatus {
    SimUnitState State = SimUnitState::FirmwareRunning;
    bool Serving = false;      // Start() was called and the serving thread has not ended
    bool LineSwitched = false; // the loader runs at the programming settings
    int UserConnects = 0;      // user connect strings answered with the connect response
    int BootAttempts = 0;      // boot connect strings heard (answered or not)
    int BootConnects = 0;      // boot connect strings answered with the connect response
    int Resets = 0;            // resets by the user (--reset-after)
    int Switches = 0;          // completed speed switches ("ABCDE" echoed)
    int Identities = 0;        // identity requests answered
    int Erases = 0;            // erase requests completed with "$"
    int Programs = 0;          // program transfers completed with 0x22
    int Verifies = 0;          // verify transfers completed with 0x22
    int Runs = 0;              // run commands
    int IgnoredBytes = 0;      // bytes dropped because the host's line settings were wrong
    std::string Error;         // why serving ended early (an I/O failure), if it did
};

class SimulatedUnit {
public:
    // Checks the configuration (connect strings, identity text, flash contents) and opens the
    // pty. Raises Exception with a clear message when either fails.
    explicit SimulatedUnit(SimConfig config);
    // Stops serving, removes the link and closes the pty.
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // What the host opens, such as "/dev/pts/7".
    const std::string& SlavePath() const;
    // The link path when one was made, else the slave path.
    const std::string& PortName() const;

    // Serves from its own thread until Stop() or a hangup fault.
    void Start();
    // Ends serving and joins the thread; writes the flash file if one is configured. Safe to
    // call more than once and before Start().
    void Stop();

    std::vector<std::uint8_t> Flash() const;
    std::vector<std::string> Trace() const;
    SimStatus Status() const;
    int RunCount() const { return Status().Runs; }

    // Waits until the condition holds (checked after each exchange) or the time is up;
    // returns whether it holds.
    bool WaitFor(const std::function<bool(const SimStatus&)>& condition,
                 std::chrono::milliseconds timeout) const;

    class Impl;

private:
    std::unique_ptr<Impl> FImpl;
};
