#include "sim/unit.h"

#include "platform/exceptions.h"

#include <array>
#include <charconv>
#include <utility>

namespace {

struct FaultName {
    SimFaultKind Kind;
    const char* Name;
    bool TakesOccurrence;
};

constexpr std::array KFaultNames{
    FaultName{SimFaultKind::NoReply, "no-reply", true},
    FaultName{SimFaultKind::WrongReply, "wrong-reply", true},
    FaultName{SimFaultKind::WrongBootReply, "wrong-boot-reply", true},
    FaultName{SimFaultKind::NoBaudRegister, "no-baud-register", true},
    FaultName{SimFaultKind::BadAck, "bad-ack", true},
    FaultName{SimFaultKind::NoAck, "no-ack", true},
    FaultName{SimFaultKind::IdTimeout, "id-timeout", true},
    FaultName{SimFaultKind::EraseFail, "erase-fail", true},
    FaultName{SimFaultKind::EraseUnexpected, "erase-unexpected", true},
    FaultName{SimFaultKind::EraseTimeout, "erase-timeout", true},
    FaultName{SimFaultKind::BlockFail, "block-fail", true},
    FaultName{SimFaultKind::BlockUnexpected, "block-unexpected", true},
    FaultName{SimFaultKind::BlockTimeout, "block-timeout", true},
    FaultName{SimFaultKind::FinalFail, "final-fail", true},
    FaultName{SimFaultKind::FinalUnexpected, "final-unexpected", true},
    FaultName{SimFaultKind::Hangup, "hangup", true},
    FaultName{SimFaultKind::Noise, "noise", false},
    FaultName{SimFaultKind::ExtraReplyBytes, "extra-reply-bytes", false},
    FaultName{SimFaultKind::SlowReply, "slow-reply", false},
};

const FaultName* FindFault(std::string_view name) {
    for (const FaultName& entry : KFaultNames)
        if (name == entry.Name)
            return &entry;
    return nullptr;
}

} // namespace

std::string SimFaultName(SimFaultKind kind) {
    for (const FaultName& entry : KFaultNames)
        if (entry.Kind == kind)
            return entry.Name;
    return "unknown";
}

SimFault ParseSimFault(const std::string& text) {
    const std::size_t at = text.find('@');
    const std::string name = text.substr(0, at);
    const FaultName* entry = FindFault(name);
    if (entry == nullptr)
        throw Exception("Unknown fault \"" + name + "\"");
    SimFault fault;
    fault.Kind = entry->Kind;
    if (at == std::string::npos)
        return fault;
    if (!entry->TakesOccurrence)
        throw Exception("Fault \"" + name + "\" applies to every reply and takes no @N");
    const std::string number = text.substr(at + 1);
    int value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() || value < 1)
        throw Exception("Fault \"" + text + "\": N must be a whole number of 1 or more");
    fault.At = value;
    return fault;
}
