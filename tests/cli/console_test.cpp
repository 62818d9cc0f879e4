// What the console shows of the device's status texts and progress.
#include "cli/console.h"

#include "loader/fdt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A console stream whose text the test reads back.
class TCapturedStream {
public:
    TCapturedStream() : FStream(open_memstream(&FBuffer, &FSize)) {}
    ~TCapturedStream() {
        std::fclose(FStream);
        std::free(FBuffer);
    }
    std::FILE* Stream() const { return FStream; }
    std::string Text() {
        std::fflush(FStream);
        return {FBuffer, FSize};
    }

private:
    char* FBuffer = nullptr;
    std::size_t FSize = 0;
    std::FILE* FStream;
};

// The device's hooks, as its operations call them.
void ShowStep(TFlashFDTDevice& device, const std::string& status, int max, int step) {
    device.ShowStatus(status);
    device.ProgressStart(max);
    for (int done = 0; done < max; done += step)
        device.ProgressStep(step);
}

struct TConsoleFixture {
    explicit TConsoleFixture(bool terminal) : Status(Captured.Stream(), terminal) {
        Device.StatusLabel = &Status.Label();
        Device.ProgressBar = &Status.Bar();
    }
    TCapturedStream Captured;
    TConsoleStatus Status;
    TFlashFDTDevice Device;
};

} // namespace

TEST(CliConsole, PlainLinesForEachStepAndEachTenth) {
    TConsoleFixture console(false);
    ShowStep(console.Device, "Connecting...", 1, 1);
    ShowStep(console.Device, "Erasing FLASH...", 1, 1);
    ShowStep(console.Device, "Programming FLASH...", 4096, 128);

    std::string expected = "Connecting...\nConnecting... 100%\n"
                           "Erasing FLASH...\nErasing FLASH... 100%\n"
                           "Programming FLASH...\n";
    for (int tenth = 1; tenth <= 10; ++tenth)
        expected += "Programming FLASH... " + std::to_string(tenth * 10) + "%\n";
    EXPECT_EQ(console.Captured.Text(), expected);
}

TEST(CliConsole, BootAttemptsThenContactCountTheNewRangeFromNothing) {
    // 25 of the 100 attempts, then contact: the device starts a range of 1 and fills it.
    TConsoleFixture console(false);
    console.Device.ShowStatus("Connecting...");
    console.Device.ProgressStart(100);
    for (int attempt = 0; attempt < 25; ++attempt)
        console.Device.ProgressStep(1);
    console.Device.ProgressStart(1);
    console.Device.ProgressStep(1);

    EXPECT_EQ(console.Captured.Text(), "Connecting...\nConnecting... 10%\nConnecting... 20%\n"
                                       "Connecting... 100%\n");
}

TEST(CliConsole, ATerminalRedrawsOneLineWithABar) {
    TConsoleFixture console(true);
    console.Device.ShowStatus("Verifying FLASH...");
    console.Device.ProgressStart(256);
    console.Device.ProgressStep(128);
    console.Status.Line("Reset the Unit");
    console.Status.EndLine();

    const std::string bar = std::string(15, '#') + std::string(15, '.');
    EXPECT_EQ(console.Captured.Text(), "\rVerifying FLASH... [" + std::string(30, '.') +
                                           "] 0%\033[K"
                                           "\rVerifying FLASH... [" +
                                           bar +
                                           "] 50%\033[K"
                                           "\nReset the Unit\n");
}
