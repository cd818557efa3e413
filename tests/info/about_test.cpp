// The About window's switch: the lines are drawn on one activation and the window closes on the
// next; the switch outlives the window.
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include "app/form1.h"
#include "info/form2.h"
#include "tests/support/window_testkit.h"

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstPressDrawsTheLines();
    void returningToAboutClosesIt();
    void aProposWhileOpenClosesIt();
    void okAfterTheLinesLeavesTheSwitchOn();
    void drawnLinesArePaintedAgain();

private:
    QPointer<Form2> pressAPropos();
    void activateMainWindow();

    std::unique_ptr<ScratchTemp> temp_;
    std::unique_ptr<Form1> form_;
};

void AboutTest::init()
{
    Form2::aig = 0;  // as at the program's start
    temp_ = std::make_unique<ScratchTemp>();
    form_ = std::make_unique<Form1>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void AboutTest::cleanup()
{
    form_.reset();
    temp_.reset();
}

// Presses "A propos" and returns the About window, or null once it has closed itself.
QPointer<Form2> AboutTest::pressAPropos()
{
    form_->Command4->click();
    QApplication::processEvents();
    return openWindow<Form2>();
}

void AboutTest::activateMainWindow()
{
    form_->activateWindow();
    QTRY_VERIFY(form_->isActiveWindow());
}

void AboutTest::firstPressDrawsTheLines()
{
    QPointer<Form2> about = pressAPropos();
    QVERIFY(about);
    QTRY_VERIFY(about->isActiveWindow());
    QCOMPARE(Form2::aig, qint16(1));

    const DrawnText& text = about->drawnText();
    QCOMPARE(text.lines().size(), std::size_t(3));
    for (std::size_t i = 0; i < 3; ++i)
        QCOMPARE(text.lines()[i].top, int(2 * i + 1) * text.lineHeight());
    QCOMPARE(text.position(), 6 * text.lineHeight());

    QCOMPARE(about->size(), QSize(2385 / 15, 1995 / 15));
    QCOMPARE(about->Command1->geometry(), QRect(480 / 15, 1320 / 15, 1455 / 15, 495 / 15));
    QCOMPARE(about->Command1->font().pointSizeF(), 12.0);
    QTRY_COMPARE(about->frameGeometry().topLeft(), centredFrameCorner(about));
}

void AboutTest::returningToAboutClosesIt()
{
    QPointer<Form2> about = pressAPropos();
    QTRY_COMPARE(Form2::aig, qint16(1));
    activateMainWindow();
    QVERIFY(about && about->isVisible());  // leaving it changes nothing

    about->activateWindow();
    QTRY_VERIFY(!about);
    QCOMPARE(Form2::aig, qint16(0));

    about = pressAPropos();
    QVERIFY(about);
    QTRY_COMPARE(about->drawnText().lines().size(), std::size_t(3));
    QCOMPARE(Form2::aig, qint16(1));
}

void AboutTest::aProposWhileOpenClosesIt()
{
    QPointer<Form2> about = pressAPropos();
    QTRY_COMPARE(Form2::aig, qint16(1));
    activateMainWindow();

    form_->Command4->click();
    QTRY_VERIFY(!about);
    QCOMPARE(Form2::aig, qint16(0));
}

void AboutTest::okAfterTheLinesLeavesTheSwitchOn()
{
    QPointer<Form2> about = pressAPropos();
    QTRY_COMPARE(Form2::aig, qint16(1));
    about->Command1->click();
    QTRY_VERIFY(!about);
    QCOMPARE(Form2::aig, qint16(1));

    // The next press (the user's click has made the main window active) opens a window that
    // closes at its first activation ...
    activateMainWindow();
    form_->Command4->click();
    QTRY_COMPARE(Form2::aig, qint16(0));
    QTRY_COMPARE(windowCount<Form2>(), 0);

    // ... and the one after shows the lines again.
    activateMainWindow();
    about = pressAPropos();
    QVERIFY(about);
    QTRY_COMPARE(about->drawnText().lines().size(), std::size_t(3));
    QCOMPARE(Form2::aig, qint16(1));
}

void AboutTest::drawnLinesArePaintedAgain()
{
    QPointer<Form2> about = pressAPropos();
    QTRY_COMPARE(Form2::aig, qint16(1));
    // A fresh rendering of the window, as after it was covered, still shows the copyright line.
    const QImage image = about->grab().toImage();
    const int lineHeight = about->drawnText().lineHeight();
    const QColor background = about->palette().color(QPalette::Window);
    int inked = 0;
    for (int y = lineHeight; y < 2 * lineHeight; ++y)
        for (int x = 0; x < image.width(); ++x)
            inked += image.pixelColor(x, y) != background;
    QVERIFY2(inked > 20, qPrintable(QString::number(inked)));
}

QTEST_MAIN(AboutTest)
#include "about_test.moc"
