#pragma once
// What every test of the main window starts from: the program's default title, a plain red
// application icon, and the real standard exception display (answered by a ModalScript).

#include "app/messagedlg.h"
#include "platform/application.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

#include <gtest/gtest.h>

inline constexpr const char* DefaultTitle = "Daltoven Flash Programmer";

inline QRgb ApplicationIconColour() {
    return qRgb(200, 0, 0);
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        FOldHandler = Application::SetExceptionHandler(ShowException);
        Application::SetTitle(DefaultTitle);
        QPixmap icon(32, 32);
        icon.fill(QColor(ApplicationIconColour()));
        QApplication::setWindowIcon(QIcon(icon));
    }
    void TearDown() override {
        Application::SetExceptionHandler(FOldHandler);
        Application::SetTitle(DefaultTitle);
        QApplication::setWindowIcon(QIcon());
    }

private:
    Application::ExceptionHandler FOldHandler;
};
