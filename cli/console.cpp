#include "cli/console.h"

#include <algorithm>

TConsoleStatus::TConsoleStatus(std::FILE* out, bool terminal)
    : FOut(out), FTerminal(terminal), FLabel([this] { StepChanged(); }),
      FBar([this] { ProgressChanged(); }) {}

void TConsoleStatus::Line(const std::string& text) {
    EndLine();
    Write(text + "\n");
}

void TConsoleStatus::Ask(const std::string& text) {
    EndLine();
    Write(text);
}

void TConsoleStatus::EndLine() {
    if (FLineOpen)
        Write("\n");
    FLineOpen = false;
}

void TConsoleStatus::StepChanged() {
    EndLine();
    // The bar still shows the last step until the device starts it again.
    FShownPercent = std::max(Percent(), 0);
    if (FTerminal)
        Draw();
    else
        Write(FLabel.Caption() + "\n");
}

void TConsoleStatus::ProgressChanged() {
    const bool rangeChanged = FBar.Min() != FShownMin || FBar.Max() != FShownMax;
    FShownMin = FBar.Min();
    FShownMax = FBar.Max();
    const int percent = Percent();
    if (percent < 0)
        return;
    if (FTerminal) {
        if (percent != FShownPercent) {
            FShownPercent = percent;
            Draw();
        }
        return;
    }
    // A new range is the device starting a bar again (the next step, or the boot method's
    // range of 1 once contact is made): a baseline, not progress.
    if (!rangeChanged && percent / 10 > FShownPercent / 10)
        Write(FLabel.Caption() + " " + std::to_string(percent / 10 * 10) + "%\n");
    FShownPercent = percent;
}

int TConsoleStatus::Percent() const {
    const long long range = static_cast<long long>(FBar.Max()) - FBar.Min();
    if (range <= 0)
        return -1;
    return static_cast<int>((static_cast<long long>(FBar.Position()) - FBar.Min()) * 100 / range);
}

void TConsoleStatus::Draw() {
    const int percent = Percent() < 0 ? 0 : Percent();
    const int filled = percent * BarWidth / 100;
    std::string line = "\r" + FLabel.Caption() + " [" + std::string(filled, '#') +
                       std::string(BarWidth - filled, '.') + "] " + std::to_string(percent) + "%";
    // Clears what a longer line drawn before left behind.
    line += "\033[K";
    Write(line);
    FLineOpen = true;
}

void TConsoleStatus::Write(const std::string& text) {
    std::fputs(text.c_str(), FOut);
    std::fflush(FOut);
}
