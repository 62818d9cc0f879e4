#include "platform/comport.h"

#include <array>

namespace {
// Bits per second of br110 .. br256000, by index.
constexpr std::array<int, 16> KBaudRateTable = {0,     110,    300,    600,   1200,  2400,
                                                4800,  9600,   14400,  19200, 38400, 56000,
                                                57600, 115200, 128000, 256000};
} // namespace

int BaudRateBitsPerSecond(TBaudRate rate) {
    const auto index = static_cast<std::size_t>(rate);
    return index < KBaudRateTable.size() ? KBaudRateTable[index] : 0;
}

void TComFlowControl::SetFlowControl(TFlowControl preset) {
    // The program only ever asks for fcNone; the other presets are kept for completeness.
    switch (preset) {
    case fcHardware:
        OutCTSFlow = true;
        XonXoffIn = false;
        XonXoffOut = false;
        ControlRTS = rtsHandshake;
        break;
    case fcSoftware:
        OutCTSFlow = false;
        XonXoffIn = true;
        XonXoffOut = true;
        ControlRTS = rtsDisable;
        break;
    case fcNone:
        OutCTSFlow = false;
        XonXoffIn = false;
        XonXoffOut = false;
        ControlRTS = rtsDisable;
        break;
    case fcCustom:
        break;
    }
}

TComPort::TComPort(TComponent* owner) : TComponent(owner) {}

template <typename T> void TComPort::ChangeLineSetting(T& field, const T& value) {
    if (field == value)
        return;
    field = value;
    if (Connected())
        ApplyLineSettings();
}

TComPort::~TComPort() {
    Close();
}

void TComPort::SetConnected(bool connected) {
    if (connected == Connected())
        return;
    if (connected)
        Open();
    else
        Close();
}

void TComPort::SetPort(const std::string& name) {
    if (name == FPort)
        return;
    FPort = name;
    if (Connected()) {
        Close();
        Open();
    }
}

void TComPort::SetBaudRate(TBaudRate rate) {
    ChangeLineSetting(FBaudRate, rate);
}

void TComPort::SetCustomBaudRate(std::int32_t bitsPerSecond) {
    ChangeLineSetting(FCustomBaudRate, bitsPerSecond);
}

void TComPort::SetDataBits(TDataBits bits) {
    ChangeLineSetting(FDataBits, bits);
}

void TComPort::SetStopBits(TStopBits bits) {
    ChangeLineSetting(FStopBits, bits);
}

void TComPort::SetParity(const TComParity& parity) {
    ChangeLineSetting(FParity, parity);
}

void TComPort::SetFlowControl(const TComFlowControl& flow) {
    ChangeLineSetting(FFlowControl, flow);
}

void TComPort::SetTimeouts(const TComTimeouts& timeouts) {
    // Every read and write takes its time limit from FTimeouts when it starts, so a change
    // applies to the next one on an open port as well.
    FTimeouts = timeouts;
}

void TComPort::SetBuffer(const TComBuffer& buffer) {
    FBuffer = buffer;
    if (Connected())
        ApplyBuffer();
}
