// The window's close: "Quitter" closes exactly as the close box, the program lasts as long as one
// of its windows is open, and the information windows live beside the main window. (Opening
// them again is in tests/info.)
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "app/form1.h"
#include "info/form2.h"
#include "info/form3.h"
#include "tests/support/window_testkit.h"

class WindowsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { Form2::aig = 0; }
    void quitterClosesAsTheCloseBoxDoes_data();
    void quitterClosesAsTheCloseBoxDoes();
    void logWithFailuresOutlivesTheWindow();
    void quitterLeavesHelpOpenAndTheProgramEndsWithIt();
    void aProposOpensAboutBesideTheMainWindow();
};

void WindowsTest::quitterClosesAsTheCloseBoxDoes_data()
{
    QTest::addColumn<bool>("byQuitter");
    QTest::newRow("Quitter") << true;
    QTest::newRow("close box") << false;
}

void WindowsTest::quitterClosesAsTheCloseBoxDoes()
{
    QFETCH(bool, byQuitter);
    ScratchTemp temp;
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(QFile::exists(form.logx));

    if (byQuitter)
        form.Command2->click();
    else
        form.close();  // what the close box sends
    QVERIFY(!form.isVisible());
    QVERIFY(!QFile::exists(form.logx));  // no failure: the shutdown removed the log
    QVERIFY(QFileInfo(temp.path("Vamko")).isDir());
}

void WindowsTest::logWithFailuresOutlivesTheWindow()
{
    ScratchTemp temp;
    Form1 form;
    form.ctr = 1;
    form.close();
    QCOMPARE(readAll(temp.path("Vamko/Log.txt")), kLogHeaderBytes);
}

void WindowsTest::quitterLeavesHelpOpenAndTheProgramEndsWithIt()
{
    ScratchTemp temp;
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Command3->click();
    QPointer<Form3> help = openWindow<Form3>();
    QVERIFY(help);

    // The program's event loop, as main() runs it: "Quitter" first, then Help's "OK". The loop
    // must outlast the first and end with the second.
    QStringList steps;
    QTimer::singleShot(0, &form, [&] {
        form.Command2->click();
        steps << (help && help->isVisible() ? "Help still open" : "Help gone");
        QTimer::singleShot(0, help, [&] {
            steps << "OK";
            help->Command1->click();
        });
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, qApp, [&] {
        steps << "timed out";
        QApplication::quit();
    });
    giveUp.start(10000);
    QApplication::exec();

    QCOMPARE(steps, (QStringList{"Help still open", "OK"}));
    QVERIFY(!form.isVisible());
    QTRY_VERIFY(!help);  // a closed Help window goes away
}

void WindowsTest::aProposOpensAboutBesideTheMainWindow()
{
    ScratchTemp temp;
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Command4->click();
    Form2* about = openWindow<Form2>();
    QVERIFY(about);
    QVERIFY(!about->isModal());
    QVERIFY(about->parentWidget() == nullptr);  // it lives beside the main window
    QVERIFY(form.isEnabled());
}

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
