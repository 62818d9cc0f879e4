#include "platform/exceptions.h"

EComPort::EComPort(const std::string& text, int errorCode)
    : Exception(text + " (win error code: " + std::to_string(errorCode) + ")"),
      FErrorCode(errorCode) {}
