// Where the windows open under a window manager: centred on the screen by their outer size,
// frame and title bar included. Run through tests/support/desktop, which gives the test an X
// server with a window manager of its own.
#include <QPushButton>

#include "app/form1.h"
#include "info/form2.h"
#include "info/form3.h"
#include "tests/support/window_testkit.h"

class PlacementTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void windowsAreCentredWithTheirFrame_data();
    void windowsAreCentredWithTheirFrame();
};

void PlacementTest::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server with a window manager: run through tests/support/desktop");
}

void PlacementTest::windowsAreCentredWithTheirFrame_data()
{
    QTest::addColumn<QString>("button");  // the main window's button that opens the window
    QTest::newRow("main window") << QString();
    QTest::newRow("Aide") << QStringLiteral("Command3");
    QTest::newRow("A propos") << QStringLiteral("Command4");
}

void PlacementTest::windowsAreCentredWithTheirFrame()
{
    QFETCH(QString, button);
    Form2::aig = 0;
    ScratchTemp temp;
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QWidget* window = &form;
    if (!button.isEmpty()) {
        form.findChild<QPushButton*>(button)->click();
        window = nullptr;
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (shown != &form && shown->isVisible())
                window = shown;
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    QTRY_VERIFY2(window->frameGeometry().size() != window->size(), "the window manager framed the window");
    QTRY_COMPARE(window->frameGeometry().topLeft(), centredFrameCorner(window));
}

QTEST_MAIN(PlacementTest)
#include "placement_test.moc"
