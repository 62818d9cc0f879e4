#pragma once
// The program's message boxes. Every box goes through MessageDlg, so the kinds, captions and
// buttons are the same everywhere; the standard exception display is one of them.

#include <exception>
#include <string>

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

enum class TMsgDlgButtons {
    Ok,    // one OK button
    YesNo, // Yes (the default) and No; Escape and the close box answer No
};

// Shows a modal message box of the given kind (caption "Warning", "Error", "Information" or
// "Confirm" and the matching icon) and waits for the answer: mrOk, mrYes or mrNo.
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);

// The standard exception display: the application title as caption, the error icon, one OK,
// and the message with the full-stop rule applied.
void ShowException(const std::exception& e);
