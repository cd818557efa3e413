// The installed icons show the window's own picture: the window's icon is the drawing the icon
// files are made from, and the scalable icon, written by hand, has the drawing's tiles.
#include <QFile>
#include <QPainter>
#include <QTest>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdlib>

#include "widgets/icons.h"

namespace {

// Paints the SVG's rectangles, the only shapes it may use, in its 32-unit coordinates.
QImage rectanglesOf(const QString& path, QString& problem)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "cannot read " + path;
        return image;
    }
    QPainter painter(&image);
    QXmlStreamReader svg(&file);
    while (!svg.atEnd()) {
        if (svg.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = svg.name();
        if (name == u"svg" || name == u"g")
            continue;
        if (name != u"rect") {
            problem = "a shape other than a rectangle: " + name.toString();
            return image;
        }
        const auto a = svg.attributes();
        painter.fillRect(QRectF(a.value("x").toDouble(), a.value("y").toDouble(), a.value("width").toDouble(),
                                a.value("height").toDouble()),
                         QColor(a.value("fill").toString()));
    }
    if (svg.hasError())
        problem = svg.errorString();
    return image;
}

QImage argb(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    // The window's icon keeps at most 256 colours, which brings each channel to within 26 of
    // the drawing's.
    void windowIconIsTheDrawing()
    {
        const QImage window = argb(mainWindowIcon().pixmap(32, 32).toImage());
        const QImage drawing = programPicture(32);
        QCOMPARE(window.size(), drawing.size());
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb a = window.pixel(x, y), b = drawing.pixel(x, y);
                const int apart = std::max(
                    {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
                QVERIFY2(apart <= 26 && qAlpha(a) == qAlpha(b),
                         qPrintable(QString("pixel %1, %2: %3 against %4").arg(x).arg(y).arg(a, 8, 16).arg(b, 8, 16)));
            }
        }
    }

    void scalableIconHasTheDrawingsTiles()
    {
        QString problem;
        const QImage svg = rectanglesOf(TESSELO_SCALABLE_ICON, problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(svg, argb(programPicture(32)));
    }
};

QTEST_MAIN(IconsTest)
#include "icons_test.moc"
