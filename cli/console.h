#pragma once
// The run's status texts and progress on a console stream. On a terminal the current step is
// one line, redrawn with a bar as it advances; elsewhere (a log file, a pipe) each step is one
// plain line, and so is each tenth of its progress.

#include "loader/userprompt.h"
#include "platform/controls.h"

#include <cstdio>
#include <functional>
#include <string>

class TConsoleStatus {
public:
    TConsoleStatus(std::FILE* out, bool terminal);
    TConsoleStatus(const TConsoleStatus&) = delete;
    TConsoleStatus& operator=(const TConsoleStatus&) = delete;

    // What the device writes to.
    TLabel& Label() { return FLabel; }
    TProgressBar& Bar() { return FBar; }

    // A line of its own, after the step being drawn.
    void Line(const std::string& text);
    // A question: the text without a line break, the answer follows on the same line.
    void Ask(const std::string& text);
    // Ends the line being drawn, so that other output starts on a line of its own.
    void EndLine();

    static constexpr int BarWidth = 30;

private:
    // A control that tells the console of each change.
    template <typename TControl> class TWatched : public TControl {
    public:
        explicit TWatched(std::function<void()> changed) : FChanged(std::move(changed)) {}

    protected:
        void Changed() override { FChanged(); }

    private:
        std::function<void()> FChanged;
    };

    void StepChanged();
    void ProgressChanged();
    // 0 to 100; -1 for a bar without a range.
    int Percent() const;
    void Draw();
    void Write(const std::string& text);

    std::FILE* FOut;
    bool FTerminal;
    TWatched<TLabel> FLabel;
    TWatched<TProgressBar> FBar;
    // The progress last shown for the current step.
    int FShownPercent = 0;
    int FShownMin = 0;
    int FShownMax = 0;
    bool FLineOpen = false;
};

// The boot method's prompt on the console: the text as a status line; the cancel is asked of
// Cancelled (the run answers it from Ctrl-C).
class TConsolePrompt : public TUserPrompt {
public:
    TConsolePrompt(TConsoleStatus& status, std::function<bool()> cancelled, std::string hint)
        : FStatus(status), FCancelled(std::move(cancelled)), FHint(std::move(hint)) {}

    void ShowPrompt(const std::string& text) override { FStatus.Line(text + FHint); }
    bool Cancelled() override { return FCancelled(); }

private:
    TConsoleStatus& FStatus;
    std::function<bool()> FCancelled;
    std::string FHint;
};
