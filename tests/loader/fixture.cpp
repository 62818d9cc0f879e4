#include "tests/loader/fixture.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

std::ostream& operator<<(std::ostream& out, const Failure& failure) {
    return out << failure.Type << " \"" << failure.Message << "\"";
}

Failure FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        int status = 0;
        const std::unique_ptr<char, void (*)(void*)> name(
            abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
        return {name ? name.get() : typeid(e).name(), e.what()};
    }
    return {"none", ""};
}

ExceptionRecorder::ExceptionRecorder() {
    FPrevious = Application::SetExceptionHandler(
        [this](const std::exception& e) { Messages.emplace_back(e.what()); });
}

ExceptionRecorder::~ExceptionRecorder() {
    Application::SetExceptionHandler(std::move(FPrevious));
}

void RecordingPrompt::ShowPrompt(const std::string& text) {
    Shown.push_back(text);
    FCancelled = false;
}

bool RecordingPrompt::Cancelled() {
    ++CancelledCalls;
    return FCancelled || (FCancelAtCall > 0 && CancelledCalls >= FCancelAtCall);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        WaitProcessingMessages(10);
    return done();
}

std::vector<PeerStep> SwitchSteps(int r, int b, const std::string& echo) {
    return {{Bytes({0x44, 0x05}), Bytes({r})}, {Bytes({b}), ""}, {"ABCDE", echo}};
}

void DeviceOnPty::SetUp() {
    Device.StatusLabel = &Status;
    Device.ProgressBar = &Bar;
    ConnectPort.SetPort(Pty.SlavePath());
    ProgramPort.SetPort(Pty.SlavePath());
    Info.ConnectPort = &ConnectPort;
    Info.ProgramPort = &ProgramPort;
    Info.BootConnect = "TeMoKPaZ";
    Info.UserConnect = "%02QD7315%03";
    Info.ConnectResponse = "TeMoKPaZ";
    Info.Prompt = &Prompt;
    Device.Port.SetPort(Pty.SlavePath());
    Device.Port.SetConnected(true);
}
