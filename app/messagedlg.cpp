#include "app/messagedlg.h"

#include "app/forms.h"
#include "platform/application.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

struct TMsgDlgKind {
    const char* caption;
    QMessageBox::Icon icon;
};

TMsgDlgKind KindOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return {"Warning", QMessageBox::Warning};
    case TMsgDlgType::mtError:
        return {"Error", QMessageBox::Critical};
    case TMsgDlgType::mtInformation:
        return {"Information", QMessageBox::Information};
    case TMsgDlgType::mtConfirmation:
        break;
    }
    return {"Confirm", QMessageBox::Question};
}

int ShowMessageBox(const std::string& caption, const std::string& text, QMessageBox::Icon icon,
                   TMsgDlgButtons buttons) {
    QMessageBox box(icon, QString::fromLatin1(caption), QString::fromLatin1(text),
                    QMessageBox::NoButton, MainForm());
    box.setObjectName(QStringLiteral("MessageDlg"));
    // Messages may carry text from outside (a port name, an error of the system): never markup.
    box.setTextFormat(Qt::PlainText);
    if (buttons == TMsgDlgButtons::YesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
    } else {
        box.setDefaultButton(box.addButton(QMessageBox::Ok));
        box.setEscapeButton(box.defaultButton());
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    default:
        return buttons == TMsgDlgButtons::YesNo ? mrNo : mrOk;
    }
}

} // namespace

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
    const TMsgDlgKind kind = KindOf(type);
    return ShowMessageBox(kind.caption, text, kind.icon, buttons);
}

void ShowException(const std::exception& e) {
    ShowMessageBox(Application::Title(), ExceptionDisplayText(e.what()), QMessageBox::Critical,
                   TMsgDlgButtons::Ok);
}
