// Closing the main window after runs: the last image is released, the log goes unless a file
// failed, and the output folder and images always stay.
#include <QLineEdit>
#include <QRadioButton>

#include "convert/imglib_calls.h"
#include "tests/support/run_testkit.h"

using namespace runkit;

class ShutdownTest : public QObject {
    Q_OBJECT

private slots:
    void withoutFailuresTheLogGoes();
    void withFailuresTheLogStays();
    void afterTheWarningNothingIsTouched();
};

void ShutdownTest::withoutFailuresTheLogGoes()
{
    World world;
    Form1& form = world.start();
    form.Option19->setChecked(true);
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());
    pressOuvrir(form, input);
    QVERIFY(form.dib != 0);
    const QString probe = world.input(QStringLiteral("probe.bmp"));
    QVERIFY2(imglibCalls::WriteDIBToFile(form.dib, probe, 0), "the last image is still held");

    QVERIFY(form.close());
    QVERIFY2(!imglibCalls::WriteDIBToFile(form.dib, probe, 0), "the last image was released");
    QCOMPARE(filesIn(world.output), QStringList{"photo.tif"});
    QCOMPARE(filesIn(world.temp.path()), QStringList());
    QVERIFY(QFile::exists(input));
}

void ShutdownTest::withFailuresTheLogStays()
{
    World world;
    Form1& form = world.start();
    form.Option19->setChecked(true);
    const QString good = world.input(QStringLiteral("good.bmp"));
    const QString broken = world.input(QStringLiteral("broken.bmp"));
    writeFile(good, richBmp());
    writeFile(broken, kNotAnImage);
    pressOuvrir(form, broken);
    pressOuvrir(form, good);
    QVERIFY(form.close());
    QCOMPARE(filesIn(world.output), (QStringList{"Log.txt", "good.tif"}));
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, broken}));
}

void ShutdownTest::afterTheWarningNothingIsTouched()
{
    World world;
    QVERIFY(QDir().mkdir(world.output));
    writeFile(world.log, "an earlier log\r\n");
    writeFile(world.out(QStringLiteral("earlier.tif")), "an earlier image");
    Form1& form = world.start();
    QCOMPARE(form.aig, qint16(1));
    QVERIFY(form.close());
    QCOMPARE(filesIn(world.output), (QStringList{"Log.txt", "earlier.tif"}));
    QCOMPARE(readAll(world.log), QByteArray("an earlier log\r\n"));
}

QTEST_MAIN(ShutdownTest)
#include "shutdown_test.moc"
