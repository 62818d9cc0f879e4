#pragma once
// The serial port component: its settings (the enumerations with the indexes that the
// programming package stores) and the platform operations the program needs of it.
// Backend: POSIX termios (comport_posix.cpp).

#include "platform/component.h"

#include <cstdint>
#include <string>
#include <vector>

// The enumerations have a fixed underlying type, so a stored index outside the table (only a
// hand-made package can hold one) is a defined value that the port refuses when it opens.
enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Bits per second of a baud-rate index other than brCustom; 0 for an index outside the table.
int BaudRateBitsPerSecond(TBaudRate rate);

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
    char ReplaceChar = 0;

    bool operator==(const TComParity&) const = default;
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    char XonChar = 0x11;
    char XoffChar = 0x13;

    // Applies a preset. fcNone clears OutCTSFlow, XonXoffIn and XonXoffOut and turns RTS off.
    void SetFlowControl(TFlowControl preset);

    bool operator==(const TComFlowControl&) const = default;
};

struct TComTimeouts {
    std::int32_t ReadInterval = -1;
    std::int32_t ReadTotalMultiplier = 0;
    std::int32_t ReadTotalConstant = 0;
    std::int32_t WriteTotalMultiplier = 100;
    std::int32_t WriteTotalConstant = 1000;

    bool operator==(const TComTimeouts&) const = default;
};

struct TComBuffer {
    std::int32_t InputSize = 1024;
    std::int32_t OutputSize = 1024;

    bool operator==(const TComBuffer&) const = default;
};

class TComPort : public TComponent {
public:
    explicit TComPort(TComponent* owner = nullptr);
    ~TComPort() override; // closes the port

    // Settings. On an open port a change of the line settings or flow control takes effect at
    // once; a change of the name closes and reopens the port under the new name; a change of
    // the timeouts applies to the next read. Setting a value the port already holds does
    // nothing.
    const std::string& Port() const noexcept { return FPort; }
    void SetPort(const std::string& name);
    TBaudRate BaudRate() const noexcept { return FBaudRate; }
    void SetBaudRate(TBaudRate rate);
    std::int32_t CustomBaudRate() const noexcept { return FCustomBaudRate; }
    void SetCustomBaudRate(std::int32_t bitsPerSecond);
    TDataBits DataBits() const noexcept { return FDataBits; }
    void SetDataBits(TDataBits bits);
    TStopBits StopBits() const noexcept { return FStopBits; }
    void SetStopBits(TStopBits bits);
    const TComParity& Parity() const noexcept { return FParity; }
    void SetParity(const TComParity& parity);
    const TComFlowControl& FlowControl() const noexcept { return FFlowControl; }
    void SetFlowControl(const TComFlowControl& flow);
    const TComTimeouts& Timeouts() const noexcept { return FTimeouts; }
    void SetTimeouts(const TComTimeouts& timeouts);
    const TComBuffer& Buffer() const noexcept { return FBuffer; }
    void SetBuffer(const TComBuffer& buffer);

    bool Connected() const noexcept { return FHandle >= 0; }
    void SetConnected(bool connected);
    // Opens the port exclusively, then requests the queue sizes, applies the line settings and
    // the time limits. On failure nothing stays open and EComPort is raised.
    void Open();
    // Aborts pending I/O and releases the port; bytes a completed write handed to the port go
    // out first, at the settings under which they were written. Closing a closed port does
    // nothing.
    void Close();

    // Drops every byte received and not yet read; bytes waiting to be sent are kept.
    void ClearInput();
    // Hands up to count bytes to the port, waiting at most the write time limit
    // (WriteTotalConstant + WriteTotalMultiplier * count ms); returns how many it took.
    std::int32_t Write(const void* buffer, std::int32_t count);
    // Waits until count bytes are in or ReadTotalConstant ms have passed since the read
    // began; returns the number of bytes placed in the buffer. Returns the moment the count
    // is in.
    std::int32_t Read(void* buffer, std::int32_t count);

private:
    // Each raises EComPort with the text of the step that failed.
    void ApplyLineSettings();
    void ApplyModemLines();
    void ApplyBuffer();
    void EnableLowLatency();
    void RestoreLowLatency();
    void RequireOpen(const char* errorText) const;
    // Stores a line setting and applies it to an open port; the same value again does nothing.
    template <typename T> void ChangeLineSetting(T& field, const T& value);

    std::string FPort = "COM1";
    TBaudRate FBaudRate = br9600;
    std::int32_t FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    TComParity FParity;
    TComFlowControl FFlowControl;
    TComTimeouts FTimeouts;
    TComBuffer FBuffer;

    int FHandle = -1;
    // What the driver's low-latency flag was before open, to put it back on close.
    int FSavedSerialFlags = -1;
};

// The serial ports present, as names sorted as text, ignoring case.
std::vector<std::string> EnumComPorts();
