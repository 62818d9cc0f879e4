#pragma once
// The connection wizard: the cabling picture on the right, up to 20 lines of instructions on
// the left, Next and Cancel. It knows nothing of the package: it is handed an image and lines.

#include <QDialog>

#include <array>
#include <string>
#include <vector>

class QFrame;
class QGroupBox;
class QImage;
class QLabel;
class QPushButton;

class TfrmConnectWiz : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxInstructionLines = 20;
    // The longer side of the picture as shown.
    static constexpr int PictureSide = 200;

    explicit TfrmConnectWiz(QWidget* parent = nullptr);
    ~TfrmConnectWiz() override;

    // One label per line. More than MaxInstructionLines raises Exception "Too Many Strings"
    // before anything changes.
    void SetInstructions(const std::vector<std::string>& lines);
    void ClearInstructions();
    // Shows a copy of the picture, scaled to PictureSide on its longer side. A picture with no
    // width and no height cannot be scaled: raises Exception after taking it.
    void SetPicture(const QImage& graphic);
    // mrOk for Next or Enter; mrCancel for Cancel, Escape or the close box.
    int ShowModal();

    QPushButton* btnNext;
    QPushButton* btnCancel;
    QGroupBox* GroupBox;
    QFrame* PanelImage;
    QLabel* Image;
    QFrame* PanelText;

    // Slot i holds the label of instruction line i, or null.
    std::array<QLabel*, MaxInstructionLines> InstructionLabels{};

private:
    void FormCreate();
    void FormDestroy();
};
