// The window's conversion of a 300 dpi file keeps its resolution, through grey levels, a resize
// and the intermediate bitmap (the TIFF writer's part is the library's tests').
#include <QRadioButton>
#include <QSlider>

#include "tests/support/run_testkit.h"

using namespace runkit;

class StatedResolutionTest : public QObject {
    Q_OBJECT

private slots:
    void kept();
};

void StatedResolutionTest::kept()
{
    constexpr quint32 k300Dpi = 11811;  // pixels per metre
    World world;
    Form1& form = world.start();
    form.Option19->setChecked(true);
    QByteArray bmp = richBmp();
    qToLittleEndian<quint32>(k300Dpi, bmp.data() + 38);
    qToLittleEndian<quint32>(k300Dpi, bmp.data() + 42);
    const QString input = world.input(QStringLiteral("scan.bmp"));
    writeFile(input, bmp);

    form.Option15->setChecked(true);
    form.Option21->setChecked(true);
    form.Slider2->setValue(50);
    pressOuvrir(form, input);
    const QByteArray out = readAll(world.out(QStringLiteral("scan.bmp")));
    QVERIFY(out.size() > 54);
    QCOMPARE(qFromLittleEndian<quint32>(out.constData() + 38), k300Dpi);
    QCOMPARE(qFromLittleEndian<quint32>(out.constData() + 42), k300Dpi);
}

QTEST_MAIN(StatedResolutionTest)
#include "stated_resolution_test.moc"
