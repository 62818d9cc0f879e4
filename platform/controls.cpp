#include "platform/controls.h"

#include <algorithm>

void TLabel::SetCaption(const std::string& caption) {
    FCaption = caption;
    Changed();
}

void TProgressBar::SetMin(int value) {
    FMin = value;
    FMax = std::max(FMax, FMin);
    FPosition = std::clamp(FPosition, FMin, FMax);
    Changed();
}

void TProgressBar::SetMax(int value) {
    FMax = value;
    FMin = std::min(FMin, FMax);
    FPosition = std::clamp(FPosition, FMin, FMax);
    Changed();
}

void TProgressBar::SetPosition(int value) {
    FPosition = std::clamp(value, FMin, FMax);
    Changed();
}

void TProgressBar::StepBy(int delta) {
    // Wide arithmetic: a step near INT_MAX must not overflow.
    const long long target = static_cast<long long>(FPosition) + delta;
    SetPosition(static_cast<int>(std::clamp<long long>(target, FMin, FMax)));
}
