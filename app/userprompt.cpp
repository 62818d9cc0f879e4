#include "app/userprompt.h"

#include "app/forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

TdlgUserPrompt::TdlgUserPrompt(QWidget* parent) : QDialog(parent) {
    SetupForm(this, "dlgUserPrompt", 313, 109, TBorderIcons::SystemMenu);
    CancelBtn = PlaceButton(this, "CancelBtn", 127, 68, 75, 25, "Cancel");
    lblDialogText = PlaceChild<QLabel>(this, "lblDialogText", 64, 16, 0, 13);
    lblDialogText->setWordWrap(false);
    Image1 = PlaceChild<QLabel>(this, "Image1", 16, 16, 32, 32);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    FormCreate();
}

void TdlgUserPrompt::SetText(const std::string& text) {
    SetAutoSizeCaption(lblDialogText, text);
}

void TdlgUserPrompt::FormCreate() {
    setWindowTitle(QStringLiteral("User Intervention Required..."));
}

void TdlgUserPrompt::FormShow() {
    FModalResult = mrNone;
}

bool TdlgUserPrompt::FormCloseQuery() {
    FModalResult = mrCancel;
    return false;
}

void TdlgUserPrompt::CancelBtnClick() {
    FModalResult = mrCancel;
}

void TdlgUserPrompt::showEvent(QShowEvent* event) {
    // A spontaneous show is the window system restoring the box, not a new showing.
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TdlgUserPrompt::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TdlgUserPrompt::reject() {
    CancelBtnClick();
}

TUserPromptDialog::TUserPromptDialog(TComponent* owner)
    : TUserPrompt(owner), Dialog(std::make_unique<TdlgUserPrompt>()) {}

TUserPromptDialog::~TUserPromptDialog() = default;

void TUserPromptDialog::ShowPrompt(const std::string& text) {
    Dialog->SetText(text);
    CenterOnMainForm(Dialog.get());
    Dialog->show();
}

bool TUserPromptDialog::Cancelled() {
    return Dialog->ModalResult() == mrCancel;
}

void TUserPromptDialog::HidePrompt() {
    Dialog->hide();
}
