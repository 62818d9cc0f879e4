#include "app/about.h"

#include "app/forms.h"
#include "app/version.h"
#include "platform/application.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

namespace {
void SetBoldPixelFont(QLabel* label, int pixels) {
    QFont font = label->font();
    font.setBold(true);
    font.setPixelSize(pixels);
    label->setFont(font);
}
} // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void TBottomBevel::paintEvent(QPaintEvent* /*event*/) {
    // A lowered line: shadow above, light below.
    QPainter painter(this);
    const int bottom = height() - 1;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, bottom - 1, width() - 1, bottom - 1);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, bottom, width() - 1, bottom);
}

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    SetupForm(this, "frmAbout", 455, 199, TBorderIcons::None);

    ImageIcon = PlaceChild<QLabel>(this, "ImageIcon", 8, 8, 32, 32);
    lblHalcot = PlaceChild<QLabel>(this, "lblHalcot", 64, 8, 91, 24);
    SetBoldPixelFont(lblHalcot, 19);
    lblProgram = PlaceChild<QLabel>(this, "lblProgram", 64, 40, 102, 24);
    SetBoldPixelFont(lblProgram, 21);
    lblVersion = PlaceChild<QLabel>(this, "lblVersion", 64, 72, 45, 13);
    lblHalcotWeb = PlaceChild<TClickLabel>(this, "lblHalcotWeb", 62, 104, 86, 13);
    lblHalcotWeb->setStyleSheet(QStringLiteral("color: blue;"));
    lblHalcotWeb->setCursor(Qt::PointingHandCursor);
    connect(lblHalcotWeb, &TClickLabel::clicked, this, [this] { lblHalcotWebClick(); });
    Bevel1 = PlaceChild<TBottomBevel>(this, "Bevel1", 8, 112, 439, 17);
    lblBinaryImage = PlaceChild<QLabel>(this, "lblBinaryImage", 8, 136, 68, 13);
    btnOk = PlaceButton(this, "btnOk", 376, 168, 70, 25, "Ok");
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });

    FormCreate();
}

void TfrmAbout::FormCreate() {
    setWindowTitle(QStringLiteral("About ") + QString::fromLatin1(Application::Title()));
    ImageIcon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    // The version text separates its lines with a lone carriage return; the label breaks lines
    // at line feeds.
    std::string versionLines = VersionText;
    std::replace(versionLines.begin(), versionLines.end(), '\r', '\n');
    SetAutoSizeCaption(lblVersion, versionLines);
    SetAutoSizeCaption(lblHalcot, "Daltoven");
    SetAutoSizeCaption(lblProgram, "Daltoven Flash Programmer");
    SetAutoSizeCaption(lblHalcotWeb, "www.daltoven.example");
    SetImageText("No Flash Image Available");
}

void TfrmAbout::SetImageText(const std::string& text) {
    SetAutoSizeCaption(lblBinaryImage, text);
}

void TfrmAbout::lblHalcotWebClick() {
    OpenWebSite(this);
}

void TfrmAbout::OpenWebSite(QWidget* /*window*/) {
    // The desktop's handler owns the browser window, so there is no parent to give it.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(MakerWebAddress)));
}

void TfrmAbout::btnOkClick() {
    accept();
}

int TfrmAbout::ShowModal() {
    return ::ShowModal(*this);
}
