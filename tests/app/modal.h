#pragma once
// Answers the program's modal windows from the event loop: each time a modal window shows, the
// next step of the script runs on it (a click, a key, a close), and what was shown is logged.
// A window that stays up longer than the deadline is rejected and the test fails, so a test
// never hangs on a dialog that nobody closes.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <ostream>

class QWidget;

class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit ModalScript(std::chrono::milliseconds deadline = std::chrono::seconds(20));
    ~ModalScript() override;

    ModalScript& Then(Step step);
    // "caption | text" of each modal window shown, in order (text for message boxes only).
    const QStringList& Shown() const { return FShown; }
    bool Done() const { return FSteps.empty(); }

    // Steps.
    static Step Click(const char* objectName);
    static Step ClickButton(const QString& text); // a message box's button by its text
    static Step Key(int key);
    static Step CloseBox();
    // Runs check on the window, then the answer.
    static Step Inspect(std::function<void(QWidget*)> check, Step answer);
    // The port dialog: the user moves to the next entry of the port list with the keyboard.
    static Step PickNextPort();
    // The port dialog: the next entry, then Ok.
    static Step PickNextPortAndOk();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Poll();

    std::deque<Step> FSteps;
    QStringList FShown;
    QPointer<QWidget> FCurrent;
    QTimer FTimer;
    QPointer<QWidget> FSeen; // the modal window of the last poll, and since when it is up
    std::chrono::steady_clock::time_point FSeenAt;
    std::chrono::milliseconds FDeadline;
};

// The text shown by a message box, or empty for other windows.
QString MessageBoxText(QWidget* modal);

// Texts in failure messages as text, not as lists of code units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
