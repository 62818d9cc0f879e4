#pragma once
// A loader device whose port is open on a TestPty, with the connection record the target
// would hand it, the status controls, and a recorder for the exception display.

#include "loader/fdt.h"
#include "platform/application.h"
#include "platform/controls.h"
#include "serial/comms.h"
#include "tests/loader/peer.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Collects what reaches the standard exception display while it lives.
class ExceptionRecorder {
public:
    ExceptionRecorder();
    ~ExceptionRecorder();
    ExceptionRecorder(const ExceptionRecorder&) = delete;
    ExceptionRecorder& operator=(const ExceptionRecorder&) = delete;

    std::vector<std::string> Messages;

private:
    Application::ExceptionHandler FPrevious;
};

// A prompt that records how it is used and reports a cancel from the given call of Cancelled
// on (0: never), or once Cancel() has been called (by a timer, say).
class RecordingPrompt : public TUserPrompt {
public:
    explicit RecordingPrompt(int cancelAtCall = 0) : FCancelAtCall(cancelAtCall) {}

    void ShowPrompt(const std::string& text) override;
    bool Cancelled() override;
    void HidePrompt() override { ++Hidden; }
    void Cancel() { FCancelled = true; }

    std::vector<std::string> Shown;
    int Hidden = 0;
    int CancelledCalls = 0;

private:
    int FCancelAtCall;
    bool FCancelled = false;
};

// The exception an action raised: its class name and message ("none" when it raised nothing).
struct Failure {
    std::string Type;
    std::string Message;
    bool operator==(const Failure&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Failure& failure);
Failure FailureOf(const std::function<void()>& action);

// Handles events until done() holds or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// The decoded default connect strings.
inline const std::string UserConnectBytes = "\x02QD7315\x03";
inline const std::string ConnectResponseBytes = "TeMoKPaZ";

// The line-speed switch: register request answered with r, the new register value b, the echo.
std::vector<PeerStep> SwitchSteps(int r, int b, const std::string& echo = "ABCDE");

class DeviceOnPty : public ::testing::Test {
protected:
    void SetUp() override;

    std::int32_t ReadTimeout() const { return Device.Port.Timeouts().ReadTotalConstant; }

    TestPty Pty;
    LineStopper Line{Pty.SlavePath()};
    TLabel Status;
    TProgressBar Bar;
    TFlashFDTDevice Device;
    THalcotComPort ConnectPort;
    THalcotComPort ProgramPort;
    RecordingPrompt Prompt;
    TFullConnectionInfo Info;
};
