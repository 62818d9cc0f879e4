#pragma once
// A scripted loader on the master side of a TestPty, served from its own thread (the host
// blocks its thread in every serial read). Each step reads exactly as many bytes as it expects,
// then answers; the test compares everything received with what the steps expected.

#include "tests/support/pty.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct PeerStep {
    // What the host must send at this step; only its length drives the peer.
    std::string Expect{};
    // Sent once the expected bytes are in.
    std::string Reply{};
    // A slow unit: the pause before the reply.
    std::chrono::milliseconds Pause{0};
    // Runs after the bytes are in, before the reply.
    std::function<void()> Before{};
};

class ScriptedPeer {
public:
    // repeat, when given, is served again and again once the script is done.
    ScriptedPeer(TestPty& pty, std::vector<PeerStep> script,
                 std::optional<PeerStep> repeat = std::nullopt);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // Stops the peer once the host has gone quiet and returns every byte received.
    std::string Finish();
    // The script's expected bytes, concatenated.
    std::string Expected() const;
    // How many steps of the script got all their bytes (valid after Finish).
    std::size_t StepsDone() const { return FStepsDone; }

private:
    void Serve();
    bool ReadUntil(std::size_t total);

    TestPty& FPty;
    std::vector<PeerStep> FScript;
    std::optional<PeerStep> FRepeat;
    std::string FReceived;
    std::size_t FStepsDone = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
    bool FFinished = false;
};

// Stops and restarts the host's output on the pty (the line discipline's flow stop), so that
// the host's next write cannot go out and fails at its write time limit. Restarts on
// destruction. Open it before the host opens the port.
class LineStopper {
public:
    explicit LineStopper(const std::string& slavePath);
    ~LineStopper();
    LineStopper(const LineStopper&) = delete;
    LineStopper& operator=(const LineStopper&) = delete;

    void Stop();
    void Restart();

private:
    int FSlave = -1;
};

// Bytes as space-separated hex pairs, so that a failed comparison shows where it differs.
std::string Hex(const std::string& bytes);

// Helpers for scripts.
std::string BigEndian32(std::uint32_t value);
std::string Bytes(std::initializer_list<int> values);
// A 30-byte identity reply.
std::string IdentityReply(std::uint16_t seed, std::uint32_t start, std::uint32_t length,
                          const std::string& text20);
inline const std::string IdentityRequest = "\x63\xDE\x3D\x96";
// The identity exchange answered with reply (empty: no answer).
PeerStep IdentityStep(const std::string& reply);
