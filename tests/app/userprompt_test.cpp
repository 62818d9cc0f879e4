#include "app/forms.h"
#include "app/userprompt.h"
#include "platform/application.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

// Window messages waiting in the queue, as the window system delivers them: nothing happens
// until somebody handles messages.
void PostClick(QWidget* button) {
    const QPointF centre = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(centre);
    QApplication::postEvent(button,
                            new QMouseEvent(QEvent::MouseButtonPress, centre, global,
                                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre, global,
                                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

void PostEscape(QWidget* dialog) {
    QApplication::postEvent(dialog,
                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

void PostCloseRequest(QWidget* dialog) {
    QApplication::postEvent(dialog, new QCloseEvent);
}

} // namespace

TEST(UserPrompt, NewPromptIsHiddenAndNotCancelled) {
    TUserPromptDialog prompt;
    EXPECT_FALSE(prompt.Cancelled());
    EXPECT_FALSE(prompt.Dialog->isVisible());
    EXPECT_EQ(prompt.Dialog->windowTitle(), QStringLiteral("User Intervention Required..."));
}

TEST(UserPrompt, ShowPromptShowsTheTextCentredOnTheMainWindowAndReturnsAtOnce) {
    QWidget main;
    main.setGeometry(300, 200, 295, 97);
    main.show();
    SetMainForm(&main);
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    SetMainForm(nullptr);

    TdlgUserPrompt& dialog = *prompt.Dialog;
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.isModal());
    EXPECT_EQ(dialog.lblDialogText->text(), QStringLiteral("Reset the Unit"));
    EXPECT_FALSE(dialog.lblDialogText->wordWrap());
    EXPECT_GE(dialog.lblDialogText->width(), dialog.lblDialogText->sizeHint().width());
    EXPECT_FALSE(dialog.Image1->pixmap().isNull());
    EXPECT_EQ(dialog.CancelBtn->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(prompt.Cancelled());
    // Within the frame the window system adds once the box is shown.
    const QPoint offset = dialog.geometry().center() - main.geometry().center();
    EXPECT_LE(std::abs(offset.x()), 3) << offset.x();
    EXPECT_LE(std::abs(offset.y()), 3) << offset.y();
}

TEST(UserPrompt, CancelEscapeAndTheCloseBoxAreSeenOnceMessagesAreHandled) {
    struct Case {
        const char* how;
        std::function<void(TdlgUserPrompt&)> post;
    };
    const Case cases[] = {
        {"Cancel button", [](TdlgUserPrompt& d) { PostClick(d.CancelBtn); }},
        {"Escape", [](TdlgUserPrompt& d) { PostEscape(&d); }},
        {"close box", [](TdlgUserPrompt& d) { PostCloseRequest(&d); }},
    };
    for (const Case& c : cases) {
        TUserPromptDialog prompt;
        prompt.ShowPrompt("Reset the Unit");
        c.post(*prompt.Dialog);
        EXPECT_FALSE(prompt.Cancelled()) << c.how << ": seen before messages were handled";
        Application::ProcessMessages();
        EXPECT_TRUE(prompt.Cancelled()) << c.how;
        EXPECT_TRUE(prompt.Cancelled()) << c.how << ": asking again changes nothing";
        EXPECT_TRUE(prompt.Dialog->isVisible()) << c.how << ": the prompt must stay open";
    }
}

TEST(UserPrompt, HideKeepsTheCancelUntilTheNextShowing) {
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    PostEscape(prompt.Dialog.get());
    Application::ProcessMessages();
    prompt.HidePrompt();
    EXPECT_FALSE(prompt.Dialog->isVisible());
    EXPECT_TRUE(prompt.Cancelled());

    prompt.ShowPrompt("Reset the Unit");
    EXPECT_TRUE(prompt.Dialog->isVisible());
    EXPECT_FALSE(prompt.Cancelled());
}
