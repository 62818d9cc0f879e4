#include "app/about.h"
#include "app/forms.h"
#include "app/version.h"
#include "platform/application.h"
#include "tests/app/modal.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>

namespace {

// Stands in for the desktop's browser: records the addresses it is asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TitleGuard {
public:
    explicit TitleGuard(const std::string& title) : FOld(Application::Title()) {
        Application::SetTitle(title);
    }
    ~TitleGuard() { Application::SetTitle(FOld); }

private:
    std::string FOld;
};

} // namespace

TEST(About, ShowsTheNamesTheVersionAndNoImageAtFirst) {
    TitleGuard title("Daltoven Flash Programmer");
    TfrmAbout about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Daltoven Flash Programmer"));
    EXPECT_EQ(about.lblHalcot->text(), QStringLiteral("Daltoven"));
    EXPECT_EQ(about.lblProgram->text(), QStringLiteral("Daltoven Flash Programmer"));
    EXPECT_TRUE(about.lblHalcot->font().bold());
    EXPECT_EQ(about.lblProgram->font().pixelSize(), 21);
    EXPECT_EQ(about.lblBinaryImage->text(), QStringLiteral("No Flash Image Available"));
    EXPECT_EQ(about.btnOk->text(), QStringLiteral("Ok"));

    // The version text: two lines split by one carriage return, shown as two lines.
    const QString version = QString::fromLatin1(VersionText);
    EXPECT_EQ(version.count(QLatin1Char('\r')), 1);
    EXPECT_FALSE(version.contains(QLatin1Char('\n')));
    EXPECT_EQ(about.lblVersion->text().split(QLatin1Char('\n')), version.split(QLatin1Char('\r')));
    EXPECT_GE(about.lblVersion->height(), 2 * about.lblVersion->fontMetrics().height());
}

TEST(About, CaptionTakesTheApplicationTitleOfItsCreation) {
    TitleGuard title("Widget 3000 Release 7");
    TfrmAbout about;
    Application::SetTitle("changed later");
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Widget 3000 Release 7"));
}

TEST(About, SetImageTextSizesTheLabelToTheText) {
    TfrmAbout about;
    about.SetImageText("Flash Image: Widget 3000 Release 7");
    EXPECT_EQ(about.lblBinaryImage->text(), QStringLiteral("Flash Image: Widget 3000 Release 7"));
    EXPECT_GE(about.lblBinaryImage->width(), about.lblBinaryImage->sizeHint().width());
}

TEST(About, HasNoCloseBoxAndClosesThroughOk) {
    TfrmAbout about;
    EXPECT_FALSE(about.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(about.windowFlags() & Qt::WindowSystemMenuHint);
    ModalScript script;
    script.Then(ModalScript::Click("btnOk"));
    about.ShowModal();
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(about.isVisible());
}

TEST(About, ClickOnTheLinkOpensTheMakersSiteInTheDefaultHandler) {
    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    TfrmAbout about;
    about.show();
    QTest::mouseClick(about.lblHalcotWeb, Qt::LeftButton);
    QTest::mouseClick(about.lblHalcotWeb, Qt::RightButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened.front(), QUrl(QStringLiteral("https://www.daltoven.example/")));
    EXPECT_EQ(about.lblHalcotWeb->cursor().shape(), Qt::PointingHandCursor);
}

#include "about_test.moc"
