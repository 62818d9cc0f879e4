#include "app/forms.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <cfenv>
#include <cmath>

namespace {
QPointer<QWidget>& MainFormStorage() {
    static QPointer<QWidget> form;
    return form;
}
} // namespace

void SetupForm(QWidget* form, const char* objectName, int width, int height, TBorderIcons icons) {
    form->setObjectName(QString::fromLatin1(objectName));
    Qt::WindowFlags flags =
        (form->windowFlags() & Qt::WindowType_Mask) | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (icons == TBorderIcons::SystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    form->setWindowFlags(flags);
    form->setFixedSize(width, height);
    ApplyFormFont(form);
}

void ApplyFormFont(QWidget* widget) {
    QFont font = widget->font();
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setPointSize(8);
    widget->setFont(font);
}

QPushButton* PlaceButton(QWidget* parent, const char* objectName, int left, int top, int width,
                         int height, const char* caption) {
    auto* button = PlaceChild<QPushButton>(parent, objectName, left, top, width, height);
    button->setText(QString::fromLatin1(caption));
    return button;
}

void SetDialogButtons(QDialog* dialog, QPushButton* ok, QPushButton* cancel) {
    // A focused button takes Enter itself, as on Windows; elsewhere Enter is Ok.
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

void SetAutoSizeCaption(QLabel* label, const std::string& text) {
    label->setText(QString::fromLatin1(text));
    label->adjustSize();
}

int ShowModal(QDialog& dialog) {
    return dialog.exec() == QDialog::Accepted ? mrOk : mrCancel;
}

QWidget* MainForm() {
    return MainFormStorage().data();
}

void SetMainForm(QWidget* form) {
    MainFormStorage() = form;
}

void CenterOnMainForm(QWidget* widget) {
    QRect area;
    if (QWidget* main = MainForm(); main && main != widget)
        area = main->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        widget->move(area.center() - widget->rect().center());
}

int RoundHalfEven(long double value) {
    // nearbyint rounds in the current mode; the default mode is to nearest, halves to even,
    // but do not rely on whoever ran before us.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long double rounded = std::nearbyintl(value);
    std::fesetround(saved);
    return static_cast<int>(rounded);
}
