#pragma once
// The program's serial port: TComPort with the program's defaults and the request-and-reply
// exchanges the loader conversation is built on.

#include "platform/comport.h"
#include "platform/exceptions.h"

#include <cstdint>

// A reply that did not arrive in full within the read time limit.
class EHalcotComTimeout : public Exception {
public:
    EHalcotComTimeout() : Exception("No Reply Within Time Out Period") {}
};

class THalcotComPort : public TComPort {
public:
    explicit THalcotComPort(TComponent* owner = nullptr);

    // The read time limit, in milliseconds, of the next reads.
    void SetTimeout(std::int32_t ms);
    // Discards unread input, then writes all count bytes. Raises the port's WriteFile error
    // when a write takes nothing within its time limit.
    void SendBuffer(const void* bytes, std::int32_t count);
    // SendBuffer, then one read of exactly replyCount bytes within the time limit, else
    // EHalcotComTimeout. Returns replyCount.
    std::int32_t Transact(const void* send, std::int32_t sendCount, void* reply,
                          std::int32_t replyCount);
    // Waits ms milliseconds while timers and user input are handled.
    void Delay(std::int32_t ms);
    // Takes over the source's name, line settings and flow control, closing and reopening an
    // open port around the change.
    void CopySettings(const THalcotComPort& source);
    // The line speed in bits per second.
    std::int32_t BaudValue() const;
};
