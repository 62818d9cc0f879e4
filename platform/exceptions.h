#pragma once
// The exception classes of the platform layer. Every exception of the program derives from
// Exception, whose message can be replaced (start-up wraps it in its own text).

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}

    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// A failed conversion (hexadecimal digits of the escape strings, for instance).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// ReadBuffer got fewer bytes than asked for.
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError("Stream read error") {}
};

// WriteBuffer stored fewer bytes than given.
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError("Stream write error") {}
};

// A failed operation of the serial port: its text followed by the operating system's error
// number, as in "Unable to open com port (win error code: 2)".
class EComPort : public Exception {
public:
    EComPort(const std::string& text, int errorCode);

    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// The texts of the serial port errors.
namespace ComPortError {
inline constexpr const char* Open = "Unable to open com port";
inline constexpr const char* SetupComm = "SetupComm function failed";
inline constexpr const char* SetCommState = "SetCommState function failed";
inline constexpr const char* SetCommTimeouts = "SetCommTimeouts failed";
inline constexpr const char* PurgeComm = "PurgeComm function failed";
inline constexpr const char* WriteFile = "WriteFile function failed";
inline constexpr const char* ReadFile = "ReadFile function failed";
inline constexpr const char* AsyncStatus = "Unable to get async status";
} // namespace ComPortError
