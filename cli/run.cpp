#include "cli/run.h"

#include "package/block.h"
#include "package/exist_ms.h"
#include "package/release_file.h"
#include "platform/application.h"
#include "platform/scopeguard.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace {

const char* const ProgrammedText = "Unit Successfully Programmed!";

void WriteOutcome(std::FILE* out, const std::string& text) {
    std::fputs((text + "\n").c_str(), out);
    std::fflush(out);
}

// One line from standard input; false at its end, on an error, or after a signal.
bool ReadAnswer(const TInterruptWatch& watch, std::string& answer) {
    answer.clear();
    for (;;) {
        if (!watch.WaitForInput(STDIN_FILENO))
            return false;
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
        answer += c;
    }
}

bool IsYes(std::string answer) {
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
        answer.pop_back();
    return answer == "y" || answer == "yes";
}

} // namespace

TConsoleRun::TConsoleRun(const TCliOptions& options, TConsoleStatus& status, TInterruptWatch& watch)
    : FOptions(options), FStatus(status), FWatch(watch) {
    FUserPort.SetPort(options.Port);
    FSelection.Port = &FUserPort;
    const std::string hint = isatty(STDIN_FILENO) ? " (Ctrl-C cancels)" : "";
    FFlash = std::make_unique<THitachiFlash>(
        nullptr, &FStatus.Label(), &FStatus.Bar(),
        std::make_unique<TConsolePrompt>(
            FStatus, [this] { return FWatch.Interrupted(); }, hint));
    FWatch.OnInterrupt = [this] { OnInterrupt(); };
    // The keep-alive's failure is shown, not thrown through the event loop.
    Application::SetExceptionHandler(
        [this](const std::exception& e) { FStatus.Line(ExceptionDisplayText(e.what())); });
}

TConsoleRun::~TConsoleRun() {
    FWatch.OnInterrupt = nullptr;
    Application::SetExceptionHandler(nullptr);
}

int TConsoleRun::Execute(std::FILE* outcome) {
    try {
        LoadPackage();
    } catch (const Exception& e) {
        FStatus.EndLine();
        WriteOutcome(outcome, "No Valid FLASH Image Present! (" + e.Message() + ").");
        return ExitFailed;
    } catch (const std::exception& e) {
        // Not one of ours (out of memory, say): shown as it is.
        FStatus.EndLine();
        WriteOutcome(outcome, ExceptionDisplayText(e.what()));
        return ExitFailed;
    }

    try {
        ConnectUnit();
        ProgramStoredImage();
        FFlash->Disconnect();
    } catch (const std::exception& e) {
        // Closed before the outcome is written: whoever acts on it finds the port free.
        DisconnectQuietly();
        FStatus.EndLine();
        WriteOutcome(outcome, ExceptionDisplayText(e.what()));
        return FWatch.Interrupted() ? ExitSignalBase + FWatch.Signal() : ExitFailed;
    }
    // A signal during the last step, which waits for nothing, came too late to stop it: the
    // unit is programmed and running, and that is what is reported.
    FStatus.EndLine();
    WriteOutcome(outcome, ProgrammedText);
    return ExitProgrammed;
}

void TConsoleRun::LoadPackage() {
    const std::uint8_t* block = PackageBlock();
    if (FOptions.Release) {
        FReleaseBlock = ReadPackageBlockFromFile(*FOptions.Release);
        block = FReleaseBlock.data();
    }
    FInfo = std::make_unique<TExeProgrammingInfo>(ValidateStoredData(block));
    FInfo->CheckVersion();
    FInfo->ApplyTo(*FFlash);
    if (const std::string title = FInfo->ImageTitle(); !title.empty())
        FStatus.Line(title);
}

void TConsoleRun::ConnectUnit() {
    StopIfInterrupted();
    FSelection.UseDtr = true;
    ConnectUserThenBoot(*FFlash, FSelection, [this](const std::string& failure) {
        StopIfInterrupted();
        return AskBootMethod(failure);
    });
}

bool TConsoleRun::AskBootMethod(const std::string& failure) {
    const std::string question = "User Connect Method Failed (" + failure + "). Try Boot Method?";
    switch (FOptions.Boot) {
    case TBootChoice::Boot:
        FStatus.Line(question + " Yes (--boot)");
        return true;
    case TBootChoice::NoBoot:
        FStatus.Line(question + " No (--no-boot)");
        return false;
    case TBootChoice::Ask:
        break;
    }
    if (!isatty(STDIN_FILENO)) {
        FStatus.Line(question + " No (no terminal to ask; --boot goes on)");
        return false;
    }
    FStatus.Ask(question + " [y/N] ");
    std::string answer;
    const bool answered = ReadAnswer(FWatch, answer);
    if (!answered)
        FStatus.Line("");
    return answered && !FWatch.Interrupted() && IsYes(answer);
}

void TConsoleRun::ProgramStoredImage() {
    TExistingMemoryStream image(FInfo->ImageData(), FInfo->ImageLength());
    FlashSequence(image);
}

void TConsoleRun::FlashSequence(TStream& image) {
    StopIfInterrupted();
    FFlash->Erase();
    Transfer(image, true);
    Transfer(image, false);
    StopIfInterrupted();
    FFlash->Run();
}

void TConsoleRun::Transfer(TStream& image, bool program) {
    StopIfInterrupted();
    FTransferring = true;
    const TScopeGuard done([this] { FTransferring = false; });
    FFlash->WriteImage(image, program);
}

void TConsoleRun::StopIfInterrupted() const {
    if (FWatch.Interrupted())
        throw EHitachiFlashException(ConnectCancelledText);
}

void TConsoleRun::OnInterrupt() {
    // A transfer hears of it after the block in progress and tells the loader; the boot
    // method's prompt reports it as a cancel; anything else ends at the next step.
    if (FTransferring)
        FFlash->Device.AbortRequested = true;
    FStatus.Line("Interrupted: stopping");
}

void TConsoleRun::DisconnectQuietly() noexcept {
    // The failure that ends the run is the one to report, not a second one from closing.
    try {
        FFlash->Disconnect();
    } catch (...) {
    }
}
