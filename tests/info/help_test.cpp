// The Help window draws its thirty lines at each activation, the second drawing below the first,
// and cuts off what falls outside its client area.
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include "app/form1.h"
#include "info/form3.h"
#include "tests/support/window_testkit.h"

class HelpTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openingDrawsFromTheTopLeft();
    void secondActivationDrawsBelowTheFirst();
    void aideWhileOpenDrawsAgain();
    void okThenAideStartsFromTheTop();
    void drawnTextIsPaintedAgain();

private:
    QPointer<Form3> pressAide();
    void activateMainWindow();

    std::unique_ptr<ScratchTemp> temp_;
    std::unique_ptr<Form1> form_;
};

void HelpTest::init()
{
    temp_ = std::make_unique<ScratchTemp>();
    form_ = std::make_unique<Form1>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void HelpTest::cleanup()
{
    form_.reset();
    temp_.reset();
}

// Presses "Aide" and returns the Help window once it is active, or null.
QPointer<Form3> HelpTest::pressAide()
{
    form_->Command3->click();
    QPointer<Form3> help = openWindow<Form3>();
    if (!help || !QTest::qWaitFor([&] { return help->isActiveWindow(); }))
        return nullptr;
    return help;
}

void HelpTest::activateMainWindow()
{
    form_->activateWindow();
    QTRY_VERIFY(form_->isActiveWindow());
}

void HelpTest::openingDrawsFromTheTopLeft()
{
    QPointer<Form3> help = pressAide();
    QVERIFY(help);
    const DrawnText& text = help->drawnText();
    const int lineHeight = text.lineHeight();
    QCOMPARE(text.position(), 30 * lineHeight);
    QCOMPARE(text.lines().size(), std::size_t(24));  // six of the thirty lines are empty
    QCOMPARE(text.lines().front().top, lineHeight);  // line 1 is empty
    QCOMPARE(text.lines()[1].top, 3 * lineHeight);   // and so is line 3

    QCOMPARE(help->size(), QSize(6120 / 15, 6645 / 15));
    QCOMPARE(help->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(help->Command1->geometry(), QRect(2400 / 15, 6120 / 15, 1455 / 15, 495 / 15));
    QCOMPARE(help->Command1->font().pointSizeF(), 13.5);
    QCOMPARE(help->font().pointSizeF(), 8.25);
    QTRY_COMPARE(help->frameGeometry().topLeft(), centredFrameCorner(help));
}

void HelpTest::secondActivationDrawsBelowTheFirst()
{
    QPointer<Form3> help = pressAide();
    QVERIFY(help);
    const DrawnText& text = help->drawnText();
    const int lineHeight = text.lineHeight();
    const auto firstDrawing = text.lines();

    activateMainWindow();
    help->activateWindow();
    QTRY_COMPARE(text.position(), 60 * lineHeight);

    // The second drawing continues one line below line 30; only what starts inside the client
    // area shows.
    std::vector<DrawnText::Line> second(text.lines().begin() + firstDrawing.size(), text.lines().end());
    for (const auto& line : second)
        QVERIFY(line.top >= 30 * lineHeight && line.top < help->height());
    if (31 * lineHeight < help->height()) {
        QVERIFY(!second.empty());
        QCOMPARE(second.front().top, 31 * lineHeight);
        QCOMPARE(second.front().text, firstDrawing.front().text);
    }
}

void HelpTest::aideWhileOpenDrawsAgain()
{
    QPointer<Form3> help = pressAide();
    QVERIFY(help);
    activateMainWindow();
    QCOMPARE(pressAide(), help);
    QTRY_COMPARE(help->drawnText().position(), 60 * help->drawnText().lineHeight());
    QCOMPARE(windowCount<Form3>(), 1);
}

void HelpTest::okThenAideStartsFromTheTop()
{
    QPointer<Form3> help = pressAide();
    QVERIFY(help);
    activateMainWindow();
    help->activateWindow();
    QTRY_COMPARE(help->drawnText().position(), 60 * help->drawnText().lineHeight());

    help->Command1->click();
    QTRY_VERIFY(!help);
    help = pressAide();
    QVERIFY(help);
    QCOMPARE(help->drawnText().position(), 30 * help->drawnText().lineHeight());
}

void HelpTest::drawnTextIsPaintedAgain()
{
    QPointer<Form3> help = pressAide();
    QVERIFY(help);
    const QImage image = help->grab().toImage();
    const int lineHeight = help->drawnText().lineHeight();
    int inked = 0;
    for (int y = 3 * lineHeight; y < 4 * lineHeight; ++y)  // line 4
        for (int x = 0; x < image.width(); ++x)
            inked += image.pixelColor(x, y) != QColor(Qt::white);
    QVERIFY2(inked > 100, qPrintable(QString::number(inked)));
    int blank = 0;
    for (int x = 0; x < image.width(); ++x)  // line 1 is empty
        blank += image.pixelColor(x, lineHeight / 2) == QColor(Qt::white);
    QCOMPARE(blank, image.width());
}

QTEST_MAIN(HelpTest)
#include "help_test.moc"
