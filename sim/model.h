#pragma once
// The unit itself, without any I/O: its firmware, its boot loader and its flash loader, fed one
// received byte at a time. What it wants done (replies, trace lines, flash saves, a hangup) it
// queues as actions for the serving loop, which owns the line.

#include "sim/line.h"
#include "sim/unit.h"

#include <cstdint>
#include <string>
#include <vector>

// The exchanges the unit answers; the serving loop times replies by them.
enum class SimExchange {
    UserConnect,
    BootConnect,
    BaudRegister,
    Ack,
    Identity,
    Erase,
    Block,
    Final
};

// A line setting in force: speed and framing.
struct SimLine {
    int BitsPerSecond = 9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;

    // Start bit, data bits, parity bit and stop bits of one character.
    double BitsPerCharacter() const;
    std::string Describe() const;
};

struct SimAction {
    enum Kind { Reply, Note, FlashSettled, Hangup };
    Kind What = Note;
    SimExchange Exchange = SimExchange::Identity; // Reply
    std::string Bytes;                            // Reply: the bytes; Note: the trace text
    SimLine Line;                                 // Reply: the settings it goes out at
};

class SimUnitModel {
public:
    // Decodes the connect strings and checks the configuration; raises Exception (or
    // EConvertError for a connect string) with a clear message.
    explicit SimUnitModel(const SimConfig& config);

    // One byte from the host. heard: it arrived at the line settings the unit listens at; the
    // user watching the host (--reset-after) sees every byte regardless.
    void Feed(std::uint8_t byte, bool heard);
    std::vector<SimAction> TakeActions();

    // Whether a byte at these settings would be heard now.
    bool Hears(const SimLineReading& reading) const;
    // The settings the unit listens at now.
    SimLine ListeningLine() const;
    // False once a wrong register value has put the unit at a speed nobody uses.
    bool Listening() const { return FPhase != Phase::Deaf; }

    const std::vector<std::uint8_t>& Flash() const { return FFlash; }
    // The counters and state of the unit (Serving and Error belong to the serving loop).
    const SimStatus& Status() const { return FStatus; }
    void CountIgnored(int bytes) { FStatus.IgnoredBytes += bytes; }

private:
    // Where the loader is in its conversation; decides what it listens for and at which line.
    enum class Phase {
        Connect,       // firmware running or held in reset: connect settings
        AwaitSwitch,   // loader entered: connect speed, programming framing
        AwaitRegister, // register value sent, the new one comes next
        AwaitAck,      // switched: the "ABCDE" echo comes next
        Commands,      // switched: identity, erase, program, verify, run
        Deaf,          // a wrong register value put the unit at another speed
    };
    enum class Receiving { Command, Addresses, Block, ControlByte };
    enum class Transfer { Erase, Program, Verify };

    void FeedFirmware(std::uint8_t byte);
    void FeedLoader(std::uint8_t byte);
    void WatchForReset(std::uint8_t byte);
    void ResetByUser();
    void EnterLoader(const char* how);
    void StartFirmware();
    // A new state and phase with an idle receiver; the recent bytes stay, so that a boot
    // string that made the user reset the unit is still seen whole.
    void Become(SimUnitState state, Phase phase);

    void ReceiveCommandByte(std::uint8_t byte);
    void Dispatch(std::uint32_t command);
    void AnswerBootString();
    void AnswerUserString();
    void AnswerSwitchRequest();
    void CheckRegister(std::uint8_t value);
    void AnswerAck();
    void AnswerIdentity();
    void AnswerErase();
    void StartTransfer();
    void AnswerBlock();
    void ReceiveControlByte(std::uint8_t byte);
    void AnswerFinal(bool aborted);
    void EndTransfer();
    void Run();

    bool FaultAt(SimFaultKind kind, int occurrence) const;
    bool InFlash(std::uint64_t address, std::uint64_t length) const;
    SimLine LineOf(const SimSerialSettings& settings) const;
    SimLine ConnectLine() const { return LineOf(FConfig.Connect); }
    SimLine ProgramLine() const { return LineOf(FConfig.Program); }
    SimLine SwitchLine() const; // connect speed with the programming framing
    SimLine ReplyLine() const;
    void Reply(SimExchange exchange, std::string bytes);
    void Note(std::string text);

    SimConfig FConfig;
    std::string FBootString;
    std::string FUserString;
    std::string FResponse;
    std::vector<std::uint8_t> FFlash;

    SimStatus FStatus;
    Phase FPhase = Phase::Connect;
    std::vector<SimAction> FActions;

    // The last bytes heard, to spot the connect strings in the stream.
    std::string FRecent;
    // The last bytes the user sees, and the boot strings seen since the firmware started.
    std::string FWatched;
    int FWatchedBootStrings = 0;

    // Occurrence counters for the faults (over the unit's life).
    int FUserStrings = 0;
    int FBootStrings = 0;
    int FSwitchRequests = 0;
    int FAcks = 0;
    int FIdentities = 0;
    int FEraseRequests = 0;
    int FFinals = 0;

    // The loader's receiver.
    Receiving FReceiving = Receiving::Command;
    std::string FPending; // bytes of the command, addresses or block being received
    int FSkipped = 0;     // bytes that were no command
    Transfer FTransfer = Transfer::Erase;
    std::uint32_t FAddress = 0;
    std::uint32_t FLength = 0;
    std::uint32_t FDone = 0; // bytes of the transfer received so far
    int FBlock = 0;          // blocks of the transfer received so far
};
