#include "tests/app/modal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

ModalScript::ModalScript(std::chrono::milliseconds deadline) : FDeadline(deadline) {
    connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
    FTimer.start(10);
}

ModalScript::~ModalScript() {
    if (FCurrent)
        FCurrent->removeEventFilter(this);
}

ModalScript& ModalScript::Then(Step step) {
    FSteps.push_back(std::move(step));
    return *this;
}

bool ModalScript::eventFilter(QObject* watched, QEvent* event) {
    // The same dialog shown again later is a new showing.
    if (event->type() == QEvent::Hide && watched == FCurrent) {
        FCurrent->removeEventFilter(this);
        FCurrent = nullptr;
    }
    return QObject::eventFilter(watched, event);
}

void ModalScript::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != FSeen) {
        FSeen = modal;
        FSeenAt = std::chrono::steady_clock::now();
    }
    if (!modal)
        return;
    if (std::chrono::steady_clock::now() - FSeenAt > FDeadline) {
        ADD_FAILURE() << "unanswered modal window: " << modal->windowTitle().toStdString();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        return;
    }
    if (modal == FCurrent || FSteps.empty())
        return;
    if (FCurrent)
        FCurrent->removeEventFilter(this);
    FCurrent = modal;
    modal->installEventFilter(this);
    QString entry = modal->windowTitle();
    if (const QString text = MessageBoxText(modal); !text.isEmpty())
        entry += QStringLiteral(" | ") + text;
    FShown << entry;
    Step step = std::move(FSteps.front());
    FSteps.pop_front();
    step(modal);
}

QString MessageBoxText(QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    return box ? box->text() : QString();
}

ModalScript::Step ModalScript::Click(const char* objectName) {
    return [name = QString::fromLatin1(objectName)](QWidget* modal) {
        auto* button = modal->findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name.toStdString();
        button->click();
    };
}

ModalScript::Step ModalScript::ClickButton(const QString& text) {
    return [text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << modal->windowTitle().toStdString();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove(QLatin1Char('&')) == text) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << text.toStdString();
    };
}

ModalScript::Step ModalScript::Key(int key) {
    return [key](QWidget* modal) {
        // To the focused control, as the keyboard would send it.
        QWidget* target = modal->focusWidget() ? modal->focusWidget() : modal;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
    };
}

ModalScript::Step ModalScript::CloseBox() {
    return [](QWidget* modal) { modal->close(); };
}

ModalScript::Step ModalScript::Inspect(std::function<void(QWidget*)> check, Step answer) {
    return [check = std::move(check), answer = std::move(answer)](QWidget* modal) {
        check(modal);
        answer(modal);
    };
}

ModalScript::Step ModalScript::PickNextPort() {
    return [](QWidget* modal) {
        auto* box = modal->findChild<QComboBox*>(QStringLiteral("ComComboBoxPort"));
        ASSERT_NE(box, nullptr);
        box->setFocus();
        Key(Qt::Key_Down)(modal);
    };
}

ModalScript::Step ModalScript::PickNextPortAndOk() {
    return Inspect(PickNextPort(), Click("btnOk"));
}
