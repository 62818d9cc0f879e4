#include "platform/application.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {
std::string& TitleStorage() {
    static std::string title;
    return title;
}
Application::ExceptionHandler& HandlerStorage() {
    static Application::ExceptionHandler handler;
    return handler;
}
} // namespace

namespace Application {

void ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

const std::string& Title() { return TitleStorage(); }
void SetTitle(const std::string& title) { TitleStorage() = title; }

ExceptionHandler SetExceptionHandler(ExceptionHandler handler) {
    ExceptionHandler old = std::move(HandlerStorage());
    HandlerStorage() = std::move(handler);
    return old;
}

void HandleException(const std::exception& e) {
    if (HandlerStorage()) {
        HandlerStorage()(e);
        return;
    }
    std::fprintf(stderr, "%s\n", ExceptionDisplayText(e.what()).c_str());
}

void Guarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        HandleException(e);
    }
}

} // namespace Application

std::string ExceptionDisplayText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

void WaitProcessingMessages(int ms) {
    if (ms <= 0)
        return;
    // A nested event loop sleeps in the event dispatcher until the timer or another event
    // arrives: the wait handles everything meanwhile and never spins.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec(QEventLoop::AllEvents);
}

TTimer::TTimer(TComponent* owner) : TComponent(owner), FTimer(std::make_unique<QTimer>()) {
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Tick(); });
    Restart();
}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool enabled) {
    FEnabled = enabled;
    Restart();
}

void TTimer::SetInterval(int ms) {
    FInterval = ms;
    Restart();
}

void TTimer::Restart() {
    if (FEnabled && FInterval > 0)
        FTimer->start(FInterval);
    else
        FTimer->stop();
}

void TTimer::Tick() {
    if (!FEnabled || !OnTimer)
        return;
    Application::Guarded([this] { OnTimer(this); });
}
