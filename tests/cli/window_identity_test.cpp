// The window and tesselo-convert write the same bytes for the same file and settings, for each
// output format: the real window offscreen with its dialog answered, the real executable beside.
#include <QCheckBox>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>

#include "tests/support/run_testkit.h"

using namespace runkit;

class WindowIdentityTest : public QObject {
    Q_OBJECT

private slots:
    void sameBytes_data();
    void sameBytes();
};

void WindowIdentityTest::sameBytes_data()
{
    QTest::addColumn<QString>("option");  // the window's format button
    QTest::addColumn<QString>("format");  // the command line's --to
    QTest::addColumn<int>("colours");     // 0: none
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("scale");

    const struct {
        const char* option;
        const char* format;
    } formats[] = {{"Option15", "bmp"},
                   {"Option16", "tiff"},
                   {"Option22", "tiff-none"},
                   {"Option17", "tiff-packbits"},
                   {"Option18", "tiff-ccitt"}};
    for (const auto& f : formats) {
        const QByteArray name(f.format);
        QTest::newRow(name + ", as read") << f.option << f.format << 0 << false << 100;
        QTest::newRow(name + ", 16 colours, 50 %") << f.option << f.format << 16 << false << 50;
        QTest::newRow(name + ", grey, 130 %") << f.option << f.format << 0 << true << 130;
    }
}

void WindowIdentityTest::sameBytes()
{
    QFETCH(QString, option);
    QFETCH(QString, format);
    QFETCH(int, colours);
    QFETCH(bool, grey);
    QFETCH(int, scale);

    World world;
    Form1& form = world.start();
    form.Option19->setChecked(true);
    form.findChild<QRadioButton*>(option)->setChecked(true);
    QStringList args{QStringLiteral("-q"), QStringLiteral("-t"), format, QStringLiteral("-s"), QString::number(scale)};
    if (colours != 0) {
        form.Check1->setChecked(true);
        form.Slider1->setValue(colours - 1);  // the slider at p shows p + 1 colours
        args << QStringLiteral("-c") << QString::number(colours);
    } else if (grey) {
        form.Option21->setChecked(true);
        args << QStringLiteral("--grey");
    }
    form.Slider2->setValue(scale);
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp(90, 70));

    pressOuvrir(form, input);
    QCOMPARE(form.aigan, qint16(0));

    const QString cliOutput = world.temp.path(QStringLiteral("cli"));
    QProcess cli;
    cli.start(QStringLiteral(TESSELO_CONVERT), args << QStringLiteral("-o") << cliOutput << input);
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);

    const QString name = QStringLiteral("photo.") + (format == QLatin1String("bmp") ? "bmp" : "tif");
    const QByteArray fromWindow = readAll(world.out(name));
    QVERIFY(!fromWindow.isEmpty());
    QVERIFY2(readAll(cliOutput + u'/' + name) == fromWindow, "the two outputs differ");
}

QTEST_MAIN(WindowIdentityTest)
#include "window_identity_test.moc"
