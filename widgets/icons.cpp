#include "widgets/icons.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace {

// The sixteen colours of the classic 16-colour displays.
const QList<QRgb> kSixteen = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

using Drawing = std::function<void(QPainter&, int side)>;

// Draws at `side` pixels, in coordinates on a 32-unit grid.
QImage painted(int side, const Drawing& draw)
{
    QImage canvas(side, side, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.scale(side / 32.0, side / 32.0);
        draw(painter, side);
    }
    return canvas;
}

// Draws at `side` pixels and keeps the colours of `palette`, or at most 256 when it is empty,
// transparency aside.
QPixmap drawn(int side, const Drawing& draw, const QList<QRgb>& palette = {})
{
    const QImage canvas = painted(side, draw);
    const auto flags = Qt::ThresholdDither | Qt::AvoidDither;
    const QImage mask = canvas.createAlphaMask(flags);
    QImage indexed = palette.isEmpty() ? canvas.convertToFormat(QImage::Format_Indexed8, flags)
                                       : canvas.convertToFormat(QImage::Format_Indexed8, palette, flags);
    QPixmap pixmap = QPixmap::fromImage(indexed);
    pixmap.setMask(QBitmap::fromImage(mask));
    return pixmap;
}

void drawMosaic(QPainter& p, int)
{
    // Tiles in the window's own colours, offset row by row like laid stones.
    const QColor tiles[] = {"#400040", "#00C0C0", "#C000C0", "#C0C000", "#8080FF", "#FF8080", "#FFFF80", "#008080"};
    p.fillRect(0, 0, 32, 32, QColor("#800080"));
    int colour = 0;
    for (int row = 0; row < 4; ++row) {
        const int shift = row % 2 == 0 ? 0 : -4;
        for (int x = shift; x < 32; x += 8)
            p.fillRect(x + 1, row * 8 + 1, 6, 6, tiles[colour++ % 8]);
    }
}

void drawInformation(QPainter& p, int side)
{
    p.setRenderHint(QPainter::Antialiasing, side > 16);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(0xff0000ff));
    p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(13, 6, 6, 6));
    p.drawRect(QRectF(13, 14, 6, 12));
}

void drawQuestion(QPainter& p, int side)
{
    p.setRenderHint(QPainter::Antialiasing, side > 16);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(0xffffff00));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 5, 5);
    QPainterPath hook;
    hook.moveTo(10, 12);
    hook.cubicTo(10, 4, 22, 4, 22, 11);
    hook.cubicTo(22, 16, 16, 16, 16, 21);
    p.setPen(QPen(QColor(0xff000080), 4, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff000080));
    p.drawRect(QRectF(14, 24, 4, 4));
}

QIcon iconOf(const Drawing& draw, std::initializer_list<int> sides, const QList<QRgb>& palette)
{
    QIcon icon;
    for (const int side : sides)
        icon.addPixmap(drawn(side, draw, palette));
    return icon;
}

}  // namespace

QIcon mainWindowIcon() { return iconOf(drawMosaic, {32}, {}); }
QImage programPicture(int side) { return painted(side, drawMosaic); }
QIcon aboutIcon() { return iconOf(drawInformation, {32, 16}, kSixteen); }
QIcon helpIcon() { return iconOf(drawQuestion, {32, 16}, kSixteen); }
