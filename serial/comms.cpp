#include "serial/comms.h"

#include "platform/application.h"

#include <cerrno>

namespace {
constexpr std::int32_t KInputQueueBytes = 4096;
constexpr std::int32_t KDefaultReadTimeoutMs = 1000;
} // namespace

THalcotComPort::THalcotComPort(TComponent* owner) : TComPort(owner) {
    TComBuffer buffer = Buffer();
    buffer.InputSize = KInputQueueBytes;
    SetBuffer(buffer);

    TComTimeouts timeouts = Timeouts();
    timeouts.ReadTotalConstant = KDefaultReadTimeoutMs;
    timeouts.ReadTotalMultiplier = 0;
    timeouts.ReadInterval = 0;
    SetTimeouts(timeouts);
}

void THalcotComPort::SetTimeout(std::int32_t ms) {
    TComTimeouts timeouts = Timeouts();
    timeouts.ReadTotalConstant = ms;
    SetTimeouts(timeouts);
}

void THalcotComPort::SendBuffer(const void* bytes, std::int32_t count) {
    ClearInput();
    const auto* next = static_cast<const char*>(bytes);
    std::int32_t remaining = count;
    while (remaining > 0) {
        const std::int32_t taken = Write(next, remaining);
        // A port that takes nothing within the write time limit would otherwise keep this
        // loop going forever.
        if (taken <= 0)
            throw EComPort(ComPortError::WriteFile, ETIMEDOUT);
        remaining -= taken;
        next += taken;
    }
}

std::int32_t THalcotComPort::Transact(const void* send, std::int32_t sendCount, void* reply,
                                      std::int32_t replyCount) {
    SendBuffer(send, sendCount);
    if (replyCount <= 0)
        return 0;
    const std::int32_t got = Read(reply, replyCount);
    if (got != replyCount)
        throw EHalcotComTimeout();
    return got;
}

void THalcotComPort::Delay(std::int32_t ms) {
    WaitProcessingMessages(ms);
}

void THalcotComPort::CopySettings(const THalcotComPort& source) {
    const bool wasOpen = Connected();
    if (wasOpen)
        Close();
    SetBaudRate(source.BaudRate());
    SetCustomBaudRate(source.CustomBaudRate());
    SetDataBits(source.DataBits());
    SetParity(source.Parity());
    SetPort(source.Port());
    SetStopBits(source.StopBits());
    SetFlowControl(source.FlowControl());
    if (wasOpen)
        Open();
}

std::int32_t THalcotComPort::BaudValue() const {
    return BaudRate() == brCustom ? CustomBaudRate() : BaudRateBitsPerSecond(BaudRate());
}
