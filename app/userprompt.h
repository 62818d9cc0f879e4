#pragma once
// The prompt the loader shows while it waits for the user (reset the unit): a modeless box with
// the instruction and a Cancel button. Nothing waits inside it; a cancel is recorded when the
// caller's thread handles window messages, and Cancelled reports it.

#include "app/forms.h"
#include "loader/userprompt.h"

#include <QDialog>

#include <memory>
#include <string>

class QLabel;
class QPushButton;

class TdlgUserPrompt : public QDialog {
    Q_OBJECT
public:
    explicit TdlgUserPrompt(QWidget* parent = nullptr);

    void SetText(const std::string& text);
    // 0 after each showing, mrCancel once the user has cancelled.
    int ModalResult() const noexcept { return FModalResult; }

    QPushButton* CancelBtn;
    QLabel* lblDialogText;
    QLabel* Image1;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    // Escape: the same as the Cancel button; the box stays open.
    void reject() override;

private:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void CancelBtnClick();

    int FModalResult = mrNone;
};

class TUserPromptDialog : public TUserPrompt {
public:
    explicit TUserPromptDialog(TComponent* owner = nullptr);
    ~TUserPromptDialog() override;

    void ShowPrompt(const std::string& text) override;
    bool Cancelled() override;
    void HidePrompt() override;

    const std::unique_ptr<TdlgUserPrompt> Dialog;
};
