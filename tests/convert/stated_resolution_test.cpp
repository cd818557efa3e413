// The window's conversion of a 300 dpi file keeps its resolution, as a bitmap (through the
// intermediate file) and as a TIFF, resized or not.
#include <QRadioButton>
#include <QSlider>

#include "tests/support/run_testkit.h"

using namespace runkit;

class StatedResolutionTest : public QObject {
    Q_OBJECT

private slots:
    void kept_data();
    void kept();
};

void StatedResolutionTest::kept_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("scale");
    QTest::newRow("bmp") << "Option15" << 100;
    QTest::newRow("bmp, 50 %") << "Option15" << 50;
    QTest::newRow("tif") << "Option16" << 100;
    QTest::newRow("tif huffman, 50 %") << "Option18" << 50;
}

void StatedResolutionTest::kept()
{
    QFETCH(QString, option);
    QFETCH(int, scale);
    constexpr quint32 k300Dpi = 11811;  // pixels per metre

    World world;
    Form1& form = world.start();
    form.Option19->setChecked(true);
    form.findChild<QRadioButton*>(option)->setChecked(true);
    form.Slider2->setValue(scale);
    QByteArray bmp = richBmp();
    qToLittleEndian<quint32>(k300Dpi, bmp.data() + 38);
    qToLittleEndian<quint32>(k300Dpi, bmp.data() + 42);
    const QString input = world.input(QStringLiteral("scan.bmp"));
    writeFile(input, bmp);
    pressOuvrir(form, input);
    QCOMPARE(form.aigan, qint16(0));

    if (option == QLatin1String("Option15")) {
        const QByteArray out = readAll(world.out(QStringLiteral("scan.bmp")));
        QVERIFY(out.size() > 54);
        QCOMPARE(qFromLittleEndian<quint32>(out.constData() + 38), k300Dpi);
        QCOMPARE(qFromLittleEndian<quint32>(out.constData() + 42), k300Dpi);
        return;
    }
    TIFF* tiff = TIFFOpen(QFile::encodeName(world.out(QStringLiteral("scan.tif"))).constData(), "r");
    QVERIFY(tiff);
    float x = 0, y = 0;
    quint16 unit = 0;
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y);
    TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFClose(tiff);
    QCOMPARE(unit, quint16(RESUNIT_CENTIMETER));  // a bitmap states pixels per metre
    QVERIFY2(qAbs(x - 118.11f) < 0.001f && qAbs(y - 118.11f) < 0.001f, qPrintable(QString("%1 %2").arg(x).arg(y)));
}

QTEST_MAIN(StatedResolutionTest)
#include "stated_resolution_test.moc"
