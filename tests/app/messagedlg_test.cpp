#include "app/forms.h"
#include "app/messagedlg.h"
#include "platform/application.h"
#include "platform/exceptions.h"
#include "tests/app/modal.h"

#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

struct BoxSeen {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
    Qt::TextFormat format = Qt::AutoText;
};

ModalScript::Step Record(BoxSeen& seen, ModalScript::Step answer) {
    return ModalScript::Inspect(
        [&seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            seen.caption = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.format = box->textFormat();
            for (QAbstractButton* button : box->buttons())
                seen.buttons << button->text().remove(QLatin1Char('&'));
            if (box->defaultButton())
                seen.defaultButton = box->defaultButton()->text().remove(QLatin1Char('&'));
        },
        std::move(answer));
}

} // namespace

TEST(MessageDlg, EachKindHasItsCaptionAndIcon) {
    struct Case {
        TMsgDlgType type;
        const char* caption;
        QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {TMsgDlgType::mtWarning, "Warning", QMessageBox::Warning},
        {TMsgDlgType::mtError, "Error", QMessageBox::Critical},
        {TMsgDlgType::mtInformation, "Information", QMessageBox::Information},
        {TMsgDlgType::mtConfirmation, "Confirm", QMessageBox::Question},
    };
    for (const Case& c : cases) {
        BoxSeen seen;
        ModalScript script;
        script.Then(Record(seen, ModalScript::ClickButton(QStringLiteral("OK"))));
        EXPECT_EQ(MessageDlg("Unit Successfully Programmed!", c.type, TMsgDlgButtons::Ok), mrOk);
        EXPECT_EQ(seen.caption, QString::fromLatin1(c.caption));
        EXPECT_EQ(seen.icon, c.icon) << c.caption;
        EXPECT_EQ(seen.text, QStringLiteral("Unit Successfully Programmed!"));
        EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
    }
}

TEST(MessageDlg, YesNoDefaultsToYesAndEveryOtherWayOutIsNo) {
    struct Case {
        const char* how;
        ModalScript::Step answer;
        int result;
    };
    const Case cases[] = {
        {"Yes", ModalScript::ClickButton(QStringLiteral("Yes")), mrYes},
        {"Enter", ModalScript::Key(Qt::Key_Return), mrYes},
        {"No", ModalScript::ClickButton(QStringLiteral("No")), mrNo},
        {"Escape", ModalScript::Key(Qt::Key_Escape), mrNo},
        {"close box", ModalScript::CloseBox(), mrNo},
    };
    for (const Case& c : cases) {
        BoxSeen seen;
        ModalScript script;
        script.Then(Record(seen, c.answer));
        EXPECT_EQ(
            MessageDlg("Try Boot Method?", TMsgDlgType::mtConfirmation, TMsgDlgButtons::YesNo),
            c.result)
            << c.how;
        EXPECT_EQ(seen.buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
        EXPECT_EQ(seen.defaultButton, QStringLiteral("Yes"));
    }
}

TEST(ExceptionDisplay, ShowsTheMessageUnderTheApplicationTitleWithTheErrorIcon) {
    const std::string oldTitle = Application::Title();
    Application::SetTitle("Release 4.2");
    BoxSeen seen;
    ModalScript script;
    script.Then(Record(seen, ModalScript::Key(Qt::Key_Escape)));
    ShowException(Exception("Connect Cancelled by User"));
    Application::SetTitle(oldTitle);

    EXPECT_TRUE(script.Done());
    EXPECT_EQ(seen.caption, QStringLiteral("Release 4.2"));
    EXPECT_EQ(seen.text, QStringLiteral("Connect Cancelled by User."));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
}

TEST(ExceptionDisplay, ShowsBytesOfTheMessageAsTheyAre) {
    // Messages are byte strings: a Latin-1 byte must show as that character, not be lost, and
    // what looks like markup is shown as it is.
    BoxSeen seen;
    ModalScript script;
    script.Then(Record(seen, ModalScript::ClickButton(QStringLiteral("OK"))));
    ShowException(Exception("Port <b>\xB5-1</b> busy."));
    EXPECT_EQ(seen.text, QString::fromLatin1("Port <b>\xB5-1</b> busy."));
    EXPECT_EQ(seen.format, Qt::PlainText);
}
