#pragma once
// What every form of the program shares: the modal results, the fixed-size layout with its
// border icons and font, the main window the dialogs centre on, and labels that size
// themselves to their text.

#include <QString>
#include <Qt>

#include <string>

class QDialog;
class QLabel;
class QPushButton;
class QWidget;

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Which of the title bar's icons a form shows.
enum class TBorderIcons {
    None,       // no system menu, no close box
    SystemMenu, // system menu and close box, no minimise or maximise box
};

// Gives the form its object name, a client area of exactly width x height that the user cannot
// resize, its border icons and the form font. Children keep the absolute positions they are
// placed at.
void SetupForm(QWidget* form, const char* objectName, int width, int height, TBorderIcons icons);

// The form font: "MS Sans Serif" at 8 points, or the closest the system has.
void ApplyFormFont(QWidget* widget);

// Creates a child widget of the given kind at an absolute position, with its object name.
template <typename W>
W* PlaceChild(QWidget* parent, const char* objectName, int left, int top, int width, int height) {
    auto* child = new W(parent);
    child->setObjectName(QString::fromLatin1(objectName));
    child->setGeometry(left, top, width, height);
    return child;
}

// A push button placed like PlaceChild, with its caption.
QPushButton* PlaceButton(QWidget* parent, const char* objectName, int left, int top, int width,
                         int height, const char* caption);
// Makes ok the dialog's default button (Enter), accepting it, and cancel its cancel button,
// rejecting it (as Escape and the close box do).
void SetDialogButtons(QDialog* dialog, QPushButton* ok, QPushButton* cancel);

// Sets a label's text and sizes the label to it, keeping its left and top.
void SetAutoSizeCaption(QLabel* label, const std::string& text);

// Shows the dialog modally: mrOk when it was accepted (Ok, Next, Enter), else mrCancel
// (Cancel, Escape, the close box).
int ShowModal(QDialog& dialog);

// The program's main window: the parent of its message boxes and the window the prompt is
// centred on. Null until the main window registers itself.
QWidget* MainForm();
void SetMainForm(QWidget* form);
// Moves a top-level widget so that it is centred on the main window (on the screen when there
// is none).
void CenterOnMainForm(QWidget* widget);

// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(long double value);
