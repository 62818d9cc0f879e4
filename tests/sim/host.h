#pragma once
// A scripted host for the simulated unit: a plain file descriptor on the pty's slave, set up
// with termios the way any serial program would, and the loader's exchanges written out byte by
// byte. It is independent of the program's serial and loader code on purpose.

#include <chrono>
#include <cstdint>
#include <string>

using namespace std::chrono_literals;

struct HostLine {
    int BitsPerSecond = 9600;
    bool TwoStopBits = false;
};

class ScriptedHost {
public:
    ScriptedHost(const std::string& path, HostLine line);
    ~ScriptedHost();
    ScriptedHost(const ScriptedHost&) = delete;
    ScriptedHost& operator=(const ScriptedHost&) = delete;

    // Changes the settings of the open port.
    void SetLine(HostLine line);
    // Closes the port and opens it again at new settings, as the programmer does after the
    // speed switch.
    void Reopen(HostLine line);

    // Discards unread input, then writes every byte.
    void Send(const std::string& bytes);
    // Up to count bytes, waiting at most the timeout in all.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout);
    std::string Transact(const std::string& bytes, std::size_t count,
                         std::chrono::milliseconds timeout);
    // True once a read found the other side gone.
    bool HungUp() const { return FHungUp; }

private:
    void Open();

    std::string FPath;
    HostLine FLine;
    int FFd = -1;
    bool FHungUp = false;
};

// The loader's messages as the host writes them.
namespace Wire {
inline const std::string UserConnect = "\x02QD7315\x03";
inline const std::string BootConnect = "TeMoKPaZ";
inline const std::string Response = "TeMoKPaZ";
inline const std::string SwitchRequest = "\x44\x05";
inline const std::string Ack = "ABCDE";
std::string BigEndian(std::uint32_t value);
inline const std::string Identity = BigEndian(0x63DE3D96);
inline const std::string Erase = BigEndian(0xD768FEFA);
inline const std::string Program = BigEndian(0xB7D6F53C);
inline const std::string Verify = BigEndian(0x53E1A8D7);
inline const std::string Run = BigEndian(0xC33723C6);
} // namespace Wire

// One exchange each, the way the programmer runs them.
std::string RequestIdentity(ScriptedHost& host, std::chrono::milliseconds timeout = 500ms);
std::string RequestErase(ScriptedHost& host, std::uint32_t start, std::uint32_t length,
                         std::chrono::milliseconds timeout = 2000ms);

struct TransferReplies {
    std::string Blocks; // one reply byte per block answered, up to the first that is not 0x00
    std::string Final;  // the reply to the final byte, when the transfer got that far
};
TransferReplies RunTransfer(ScriptedHost& host, const std::string& command, std::uint32_t address,
                            const std::string& image, std::chrono::milliseconds timeout = 2000ms);

// The speed switch: asks for the register at the connect speed with the programming framing,
// sends the new register value, reopens at the programming settings and sends "ABCDE".
struct SwitchReplies {
    std::string Register; // R, or nothing
    std::string Echo;
};
SwitchReplies SwitchSpeed(ScriptedHost& host, int connectBps, HostLine program,
                          std::uint8_t newRegister);

// User connect and the speed switch at the default settings (9600 8N1 both ways, R 103), as a
// test's starting point. False when any reply is not the expected one.
bool ConnectAtDefaults(ScriptedHost& host);

// A deterministic image of the given size.
std::string MakeImage(std::size_t size, int seed = 1);
