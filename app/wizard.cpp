#include "app/wizard.h"

#include "app/forms.h"
#include "platform/exceptions.h"

#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {
// A new label is 17 pixels high before its text is set; the lines are spaced at three
// quarters of that.
constexpr int NewLabelHeight = 17;
constexpr int InstructionLeft = 5;
constexpr int InstructionMargin = 5;

// PictureSide on the longer side, the other side in proportion.
QSize ScaledPictureSize(int width, int height) {
    // The quotient first, then the product, in extended precision: the halves must come out
    // exactly as they fall.
    const long double side = TfrmConnectWiz::PictureSide;
    if (height < width)
        return {TfrmConnectWiz::PictureSide,
                RoundHalfEven((side / static_cast<long double>(width)) * height)};
    return {RoundHalfEven((side / static_cast<long double>(height)) * width),
            TfrmConnectWiz::PictureSide};
}

int InstructionTop(int line) {
    return RoundHalfEven((NewLabelHeight * 0.75) * line) + InstructionMargin;
}
} // namespace

TfrmConnectWiz::TfrmConnectWiz(QWidget* parent) : QDialog(parent) {
    SetupForm(this, "frmConnectWiz", 484, 272, TBorderIcons::SystemMenu);

    btnNext = PlaceButton(this, "btnNext", 404, 242, 75, 25, "Next >>>");
    btnCancel = PlaceButton(this, "btnCancel", 324, 242, 75, 25, "Cancel");
    SetDialogButtons(this, btnNext, btnCancel);

    GroupBox = PlaceChild<QGroupBox>(this, "GroupBox", 8, 8, 473, 223);
    PanelImage = PlaceChild<QFrame>(GroupBox, "PanelImage", 243, 16, 222, 197);
    PanelImage->setFrameShape(QFrame::NoFrame);
    Image = PlaceChild<QLabel>(PanelImage, "Image", 0, 0, 222, 197);
    Image->setScaledContents(true);
    // A label paints no background of its own: the picture's transparent parts show the panel.
    PanelText = PlaceChild<QFrame>(GroupBox, "PanelText", 8, 16, 225, 195);
    PanelText->setFrameShape(QFrame::NoFrame);

    setTabOrder(btnNext, btnCancel);
    setTabOrder(btnCancel, GroupBox);
    FormCreate();
}

TfrmConnectWiz::~TfrmConnectWiz() {
    FormDestroy();
}

void TfrmConnectWiz::FormCreate() {
    InstructionLabels.fill(nullptr);
    setWindowTitle(QStringLiteral("Connecting the Unit to the PC"));
    // Bitmap and JPEG pictures both decode through Qt's image readers: nothing to register.
}

void TfrmConnectWiz::FormDestroy() {
    ClearInstructions();
}

void TfrmConnectWiz::ClearInstructions() {
    for (QLabel*& label : InstructionLabels) {
        delete label;
        label = nullptr;
    }
}

void TfrmConnectWiz::SetInstructions(const std::vector<std::string>& lines) {
    if (lines.size() > InstructionLabels.size())
        throw Exception("Too Many Strings");
    ClearInstructions();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto* label = new QLabel(PanelText);
        InstructionLabels[i] = label;
        label->move(InstructionLeft, InstructionTop(static_cast<int>(i)));
        SetAutoSizeCaption(label, lines[i]);
        label->show();
    }
}

void TfrmConnectWiz::SetPicture(const QImage& graphic) {
    Image->setPixmap(QPixmap::fromImage(graphic));
    if (graphic.width() == 0 && graphic.height() == 0)
        throw Exception("Picture has no size to scale");
    const QSize size = ScaledPictureSize(graphic.width(), graphic.height());
    Image->setScaledContents(true);
    Image->setGeometry(0, 0, size.width(), size.height());
}

int TfrmConnectWiz::ShowModal() {
    return ::ShowModal(*this);
}
