#pragma once
// The application services the core relies on, over QtCore: the message pump, the title,
// the standard exception display, and a timer component.
//
// No exception ever crosses Qt's event loop: timer handlers (and the app's slots) catch what
// they raise and hand it to HandleException, which calls the one display hook the program
// installs (the window shows a message box; tests install a recorder).

#include "platform/component.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace Application {

// Handles every pending event, user input and timer event, then returns; never blocks.
void ProcessMessages();

const std::string& Title();
void SetTitle(const std::string& title);

using ExceptionHandler = std::function<void(const std::exception&)>;
// Installs the standard exception display; returns the handler it replaces.
ExceptionHandler SetExceptionHandler(ExceptionHandler handler);
// Shows the exception through the installed display (stderr when none is installed).
void HandleException(const std::exception& e);
// Runs action, handing any exception it raises to HandleException.
void Guarded(const std::function<void()>& action);

} // namespace Application

// The text the standard exception display shows: the message, with a full stop appended only
// when its last character sorts after ".".
std::string ExceptionDisplayText(const std::string& message);

// Waits ms milliseconds while the event loop keeps running (timers and user input are handled
// meanwhile), without spinning a core. 0 or fewer milliseconds return at once.
void WaitProcessingMessages(int ms);

class QTimer;

// A repeating timer driven by the event loop. OnTimer runs at each tick; an exception it raises
// goes to Application::HandleException.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr);
    ~TTimer() override;

    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool enabled);
    int Interval() const noexcept { return FInterval; }
    void SetInterval(int ms);

    std::function<void(TTimer* sender)> OnTimer;

private:
    void Restart();
    void Tick();

    std::unique_ptr<QTimer> FTimer;
    bool FEnabled = true;
    int FInterval = 1000;
};
