#include "platform/controls.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ProgressBar, PositionStaysWithinTheRange) {
    TProgressBar bar;
    bar.SetMin(0);
    bar.SetMax(100);
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 0);
    bar.StepBy(40);
    bar.StepBy(40);
    bar.StepBy(40);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetMax(INT_MAX);
    bar.SetPosition(INT_MAX - 1);
    bar.StepBy(INT_MAX);
    EXPECT_EQ(bar.Position(), INT_MAX);
}

TEST(ProgressBar, NarrowingTheRangeClampsThePosition) {
    TProgressBar bar;
    bar.SetPosition(80);
    bar.SetMax(1);
    EXPECT_EQ(bar.Position(), 1);
}

TEST(Label, NotifiesEachChange) {
    struct Counting : TLabel {
        int changes = 0;
        void Changed() override { ++changes; }
    } label;
    label.SetCaption("Connecting...");
    EXPECT_EQ(label.Caption(), "Connecting...");
    EXPECT_EQ(label.changes, 1);
}
