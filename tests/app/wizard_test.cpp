#include "app/forms.h"
#include "app/wizard.h"
#include "platform/exceptions.h"
#include "tests/app/modal.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QPointer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(int count, const std::string& prefix = "Step ") {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(prefix + std::to_string(i + 1));
    return lines;
}

int LabelCount(const TfrmConnectWiz& wizard) {
    return static_cast<int>(wizard.PanelText->findChildren<QLabel*>().size());
}

} // namespace

TEST(Wizard, TwentyLinesGiveTwentyLabelsAtTheirTops) {
    // Line pitch 12.75 pixels; lines 2, 6, 10, 14 and 18 fall on halves, which go to even.
    const int tops[20] = {5,   18,  31,  43,  56,  69,  81,  94,  107, 120,
                          133, 145, 158, 171, 183, 196, 209, 222, 235, 247};
    TfrmConnectWiz wizard;
    wizard.SetInstructions(Lines(20));
    ASSERT_EQ(LabelCount(wizard), 20);
    for (int i = 0; i < 20; ++i) {
        QLabel* label = wizard.InstructionLabels[i];
        ASSERT_NE(label, nullptr) << i;
        EXPECT_EQ(label->parentWidget(), wizard.PanelText);
        EXPECT_EQ(label->x(), 5) << i;
        EXPECT_EQ(label->y(), tops[i]) << i;
        EXPECT_EQ(label->text().toStdString(), "Step " + std::to_string(i + 1));
        EXPECT_GE(label->width(), label->sizeHint().width()) << i << ": sized to its text";
    }
}

TEST(Wizard, TwentyOneLinesAreRefusedAndTheOldLabelsStay) {
    TfrmConnectWiz wizard;
    wizard.SetInstructions(Lines(3, "Old "));
    const QPointer<QLabel> first = wizard.InstructionLabels[0];

    try {
        wizard.SetInstructions(Lines(21));
        FAIL() << "21 lines were accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Too Many Strings");
    }
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first->text(), QStringLiteral("Old 1"));
    EXPECT_EQ(LabelCount(wizard), 3);
    EXPECT_EQ(wizard.InstructionLabels[3], nullptr);
}

TEST(Wizard, NewInstructionsReplaceEveryOldLabel) {
    TfrmConnectWiz wizard;
    wizard.SetInstructions(Lines(5, "Old "));
    std::vector<QPointer<QLabel>> old(wizard.InstructionLabels.begin(),
                                      wizard.InstructionLabels.begin() + 5);

    wizard.SetInstructions({"Plug in the cable"});
    for (const QPointer<QLabel>& label : old)
        EXPECT_TRUE(label.isNull()) << "a label of the first call survived";
    ASSERT_EQ(LabelCount(wizard), 1);
    EXPECT_EQ(wizard.InstructionLabels[0]->pos(), QPoint(5, 5));
    EXPECT_EQ(wizard.InstructionLabels[0]->text(), QStringLiteral("Plug in the cable"));

    wizard.SetInstructions({});
    EXPECT_EQ(LabelCount(wizard), 0);
    for (QLabel* label : wizard.InstructionLabels)
        EXPECT_EQ(label, nullptr);
}

TEST(Wizard, PictureIsScaledTo200OnItsLongerSideHalvesToEven) {
    struct Case {
        int width, height;
        int shownWidth, shownHeight;
    };
    const Case cases[] = {
        {210, 156, 200, 149}, // 148.57
        {640, 480, 200, 150}, {100, 100, 200, 200},
        {150, 300, 100, 200}, {400, 301, 200, 150}, // 150.5 goes to the even 150
        {400, 303, 200, 152},                       // 151.5 goes to the even 152
        {301, 400, 150, 200},                       // the same half on the other side
        {1, 1000, 0, 200},                          // 0.2 rounds to nothing
    };
    TfrmConnectWiz wizard;
    for (const Case& c : cases) {
        QImage picture(c.width, c.height, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        wizard.SetPicture(picture);
        EXPECT_EQ(wizard.Image->geometry(), QRect(0, 0, c.shownWidth, c.shownHeight))
            << c.width << "x" << c.height;
        EXPECT_EQ(wizard.Image->pixmap().size(), QSize(c.width, c.height));
        EXPECT_TRUE(wizard.Image->hasScaledContents());
    }
}

TEST(Wizard, PictureWithoutSizeFailsAfterItIsTaken) {
    TfrmConnectWiz wizard;
    QImage picture(40, 20, QImage::Format_RGB32);
    wizard.SetPicture(picture);
    EXPECT_THROW(wizard.SetPicture(QImage()), Exception);
    EXPECT_TRUE(wizard.Image->pixmap().isNull());
}

TEST(Wizard, ShowsJpegPictures) {
    // The stored picture may be a JPEG: the reader for it must be there.
    QImage source(320, 240, QImage::Format_RGB32);
    source.fill(Qt::blue);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&buffer, "jpg").write(source));
    const QImage decoded = QImage::fromData(jpeg, "JPG");
    ASSERT_FALSE(decoded.isNull());

    TfrmConnectWiz wizard;
    wizard.SetPicture(decoded);
    EXPECT_EQ(wizard.Image->size(), QSize(200, 150));
}

TEST(Wizard, NextAndEnterGiveOkCancelEscapeAndTheCloseBoxGiveCancel) {
    struct Case {
        const char* how;
        ModalScript::Step answer;
        int result;
    };
    const Case cases[] = {
        {"Next", ModalScript::Click("btnNext"), mrOk},
        {"Enter", ModalScript::Key(Qt::Key_Return), mrOk},
        {"Cancel", ModalScript::Click("btnCancel"), mrCancel},
        {"Escape", ModalScript::Key(Qt::Key_Escape), mrCancel},
        {"close box", ModalScript::CloseBox(), mrCancel},
    };
    TfrmConnectWiz wizard;
    for (const Case& c : cases) {
        ModalScript script;
        script.Then(c.answer);
        EXPECT_EQ(wizard.ShowModal(), c.result) << c.how;
        EXPECT_EQ(script.Shown(), QStringList{QStringLiteral("Connecting the Unit to the PC")});
        EXPECT_FALSE(wizard.isVisible());
    }
}
