#include "platform/application.h"
#include "platform/exceptions.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

using namespace std::chrono;

TEST(ExceptionDisplay, AppendsAFullStopOnlyAfterCharactersThatSortAfterIt) {
    struct Case {
        const char* message;
        const char* shown;
    };
    const Case cases[] = {
        {"Connect Cancelled by User", "Connect Cancelled by User."},
        {"Programming Aborted by User.", "Programming Aborted by User."},
        {"Write Failed at address 0x00000100 (256).", "Write Failed at address 0x00000100 (256)."},
        {"ends with a bracket)", "ends with a bracket)"}, // ')' sorts before '.'
        {"ends with a digit 7", "ends with a digit 7."},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExceptionDisplayText(c.message), c.shown) << c.message;
}

TEST(Wait, HandlesTimerEventsMeanwhileAndLastsAtLeastItsTime) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const auto start = steady_clock::now();
    WaitProcessingMessages(200);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(took, 199);
    EXPECT_LT(took, 2000);
    EXPECT_GE(ticks, 3);
}

TEST(Wait, ZeroOrLessReturnsAtOnce) {
    const auto start = steady_clock::now();
    WaitProcessingMessages(0);
    WaitProcessingMessages(-5);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 50);
}

TEST(Timer, TicksAndHandsExceptionsToTheDisplay) {
    std::string shown;
    auto old = Application::SetExceptionHandler(
        [&](const std::exception& e) { shown = e.what(); });
    TTimer timer;
    timer.SetInterval(10);
    int ticks = 0;
    timer.OnTimer = [&](TTimer* sender) {
        ++ticks;
        sender->SetEnabled(false);
        throw Exception("Can't Get ID");
    };
    WaitProcessingMessages(100);
    Application::SetExceptionHandler(old);
    EXPECT_EQ(ticks, 1) << "disabled in its own handler";
    EXPECT_EQ(shown, "Can't Get ID");
}
