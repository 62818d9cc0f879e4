#include "tests/loader/peer.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

using namespace std::chrono_literals;

ScriptedPeer::ScriptedPeer(TestPty& pty, std::vector<PeerStep> script,
                           std::optional<PeerStep> repeat)
    : FPty(pty), FScript(std::move(script)), FRepeat(std::move(repeat)),
      FThread([this] { Serve(); }) {}

ScriptedPeer::~ScriptedPeer() {
    Finish();
}

std::string ScriptedPeer::Finish() {
    if (!FFinished) {
        FStop = true;
        FThread.join();
        FFinished = true;
    }
    return FReceived;
}

std::string ScriptedPeer::Expected() const {
    std::string all;
    for (const PeerStep& step : FScript)
        all += step.Expect;
    return all;
}

bool ScriptedPeer::ReadUntil(std::size_t total) {
    // Short slices, so that a stop request ends a step the host never sends.
    while (FReceived.size() < total) {
        const std::string chunk = FPty.Receive(total - FReceived.size(), 20ms);
        FReceived += chunk;
        if (chunk.empty() && FStop)
            return false;
    }
    return true;
}

void ScriptedPeer::Serve() {
    auto serveStep = [this](const PeerStep& step) {
        if (!ReadUntil(FReceived.size() + step.Expect.size()))
            return false;
        if (step.Before)
            step.Before();
        if (step.Pause.count() > 0)
            std::this_thread::sleep_for(step.Pause);
        FPty.Send(step.Reply);
        return true;
    };
    for (const PeerStep& step : FScript) {
        if (!serveStep(step))
            return;
        ++FStepsDone;
    }
    while (FRepeat && serveStep(*FRepeat)) {
    }
    // Whatever else the host sends until the test is done.
    ReadUntil(std::string::npos);
}

LineStopper::LineStopper(const std::string& slavePath) {
    FSlave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (FSlave < 0)
        throw std::runtime_error("cannot open the pty slave");
}

LineStopper::~LineStopper() {
    Restart();
    close(FSlave);
}

void LineStopper::Stop() {
    tcflow(FSlave, TCOOFF);
}

void LineStopper::Restart() {
    tcflow(FSlave, TCOON);
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string BigEndian32(std::uint32_t value) {
    return Bytes({static_cast<int>(value >> 24), static_cast<int>(value >> 16 & 0xFF),
                  static_cast<int>(value >> 8 & 0xFF), static_cast<int>(value & 0xFF)});
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int v : values)
        bytes += static_cast<char>(v);
    return bytes;
}

std::string IdentityReply(std::uint16_t seed, std::uint32_t start, std::uint32_t length,
                          const std::string& text20) {
    std::string reply = Bytes({seed >> 8, seed & 0xFF}) + BigEndian32(start) + BigEndian32(length);
    reply += text20;
    reply.resize(30, ' ');
    return reply;
}

PeerStep IdentityStep(const std::string& reply) {
    return {IdentityRequest, reply};
}
