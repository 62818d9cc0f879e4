#pragma once
// The About box: the program's and the maker's names, the version, a link to the maker's web
// site and which release the program carries. Created once and shown modally from the main
// window's "About..." entry.

#include <QDialog>
#include <QFrame>
#include <QLabel>

#include <string>

class QPushButton;

// The maker's web site that the link opens.
inline constexpr const char* MakerWebAddress = "https://www.daltoven.example/";

// A label that reports a click of the left mouse button.
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A bevel that shows only its bottom line.
class TBottomBevel : public QFrame {
    Q_OBJECT
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    void SetImageText(const std::string& text);
    // Asks the desktop to open the maker's web site in its default handler. A failure is not
    // reported.
    void OpenWebSite(QWidget* window);
    int ShowModal();

    QLabel* ImageIcon;
    QLabel* lblHalcot;
    QLabel* lblProgram;
    QLabel* lblVersion;
    TClickLabel* lblHalcotWeb;
    TBottomBevel* Bevel1;
    QLabel* lblBinaryImage;
    QPushButton* btnOk;

private:
    void FormCreate();
    void lblHalcotWebClick();
    void btnOkClick();
};
