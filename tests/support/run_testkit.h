// What the run's tests share: a scratch world with its own temporary folder, the real main
// window in it, a press of "Ouvrir" with the dialog's answer as the only thing replaced, image
// files written by hand, and outputs read back with independent readers (Qt for bitmaps,
// libtiff for TIFF).
#pragma once

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QtEndian>
#include <functional>
#include <memory>
#include <optional>
#include <tiffio.h>
#include <vector>

#include "app/form1.h"
#include "tests/support/window_testkit.h"
#include "widgets/common_dialog.h"

namespace runkit {

// The program's temporary folder in a scratch folder (through TMPDIR), with the inputs in its
// folder `in`. Call start() to open the main window there, as the program does at start-up.
struct World {
    ScratchTemp temp;
    const QString in = temp.path(QStringLiteral("in"));
    const QString output = temp.path(QStringLiteral("Vamko"));
    const QString log = temp.path(QStringLiteral("Vamko/Log.txt"));
    const QString intermediate = temp.path(QStringLiteral("Dib.bmp"));
    std::unique_ptr<Form1> form;

    World() { QDir().mkdir(in); }
    ~World() { CommonDialog::setAnswerForTesting({}); }

    Form1& start()
    {
        form = std::make_unique<Form1>();
        form->show();
        return *form;
    }

    QString input(const QString& name) const { return in + u'/' + name; }
    QString out(const QString& name) const { return output + u'/' + name; }
};

// Presses "Ouvrir"; the dialog, if it opens, answers `answer`. Returns the filter the dialog
// was shown with, or nothing when no dialog opened.
inline std::optional<QString> pressOuvrir(Form1& form, const QString& answer)
{
    std::optional<QString> shownWith;
    CommonDialog::setAnswerForTesting([&](const QString& filter) {
        shownWith = filter;
        return answer;
    });
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    CommonDialog::setAnswerForTesting({});
    return shownWith;
}

// The log's lines, split at CR LF; a line break inside a line would show as an extra line.
inline QStringList logLines(const QString& path)
{
    QList<QByteArray> pieces = readAll(path).split('\n');
    QStringList lines;
    if (!pieces.takeLast().isEmpty())
        lines << QStringLiteral("<no line end at the end>");
    for (const QByteArray& line : pieces)
        lines << (line.endsWith('\r') ? QString::fromLocal8Bit(line.chopped(1)) : QStringLiteral("<bare LF>"));
    return lines;
}

inline const QString kLogHeader = QString::fromLatin1(kLogHeaderBytes.chopped(2));

using Painter = std::function<QRgb(int x, int y)>;

// A 24-bit Windows bitmap, bottom-up rows padded to four bytes.
inline QByteArray bmp24(int width, int height, const Painter& colour)
{
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const int imageBytes = rowBytes * height;
    QByteArray file(54 + imageBytes, '\0');
    auto* p = reinterpret_cast<uchar*>(file.data());
    p[0] = 'B';
    p[1] = 'M';
    qToLittleEndian<quint32>(quint32(file.size()), p + 2);
    qToLittleEndian<quint32>(54, p + 10);
    qToLittleEndian<quint32>(40, p + 14);
    qToLittleEndian<qint32>(width, p + 18);
    qToLittleEndian<qint32>(height, p + 22);
    qToLittleEndian<quint16>(1, p + 26);
    qToLittleEndian<quint16>(24, p + 28);
    qToLittleEndian<quint32>(quint32(imageBytes), p + 34);
    for (int y = 0; y < height; ++y) {
        uchar* row = p + 54 + (height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const QRgb c = colour(x, y);
            row[3 * x] = uchar(qBlue(c));
            row[3 * x + 1] = uchar(qGreen(c));
            row[3 * x + 2] = uchar(qRed(c));
        }
    }
    return file;
}

// Many colours (one per pixel, about), smooth enough to look like a picture.
inline QByteArray richBmp(int width = 64, int height = 48)
{
    return bmp24(width, height, [](int x, int y) { return qRgb(x * 4 % 256, y * 5 % 256, (x + 2 * y) * 3 % 256); });
}

// Four colours in four bands.
inline QByteArray fourColourBmp(int width = 40, int height = 20)
{
    static const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 160, 0), qRgb(20, 20, 200), qRgb(250, 250, 250)};
    return bmp24(width, height, [width](int x, int) { return colours[x * 4 / width]; });
}

inline const QByteArray kNotAnImage = QByteArrayLiteral("this is not an image at all, just some words");

// What an output file turned out to be, read by a reader other than the program's.
struct Facts {
    bool read = false;
    int width = 0, height = 0;
    int bitsPerPixel = 0;   // bitmap: bits per pixel; TIFF: bits per sample × samples
    int compression = 0;    // TIFF only
    int photometric = -1;   // TIFF only
    qsizetype colours = 0;  // distinct colours of the pixels
    bool grey = false;      // every pixel has red = green = blue
    QSet<QRgb> palette;     // the distinct colours
};

inline void countColours(Facts& facts, const std::vector<QRgb>& pixels)
{
    facts.grey = true;
    for (const QRgb c : pixels) {
        facts.palette.insert(c & 0xFFFFFFu);
        facts.grey = facts.grey && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
    }
    facts.colours = facts.palette.size();
}

inline Facts readBmp(const QString& path)
{
    Facts facts;
    const QByteArray bytes = readAll(path);
    QImage image;
    if (bytes.size() < 54 || !bytes.startsWith("BM") || !image.loadFromData(bytes, "BMP"))
        return facts;
    facts.read = true;
    facts.width = image.width();
    facts.height = image.height();
    facts.bitsPerPixel = qFromLittleEndian<quint16>(bytes.constData() + 28);
    std::vector<QRgb> pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            pixels.push_back(image.pixel(x, y));
    countColours(facts, pixels);
    return facts;
}

inline Facts readTiff(const QString& path)
{
    Facts facts;
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        return facts;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 1, compression = 0, photometric = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    std::vector<uint32_t> raster(size_t(width) * height);
    if (width && height && TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
        facts.read = true;
        facts.width = int(width);
        facts.height = int(height);
        facts.bitsPerPixel = bits * samples;
        facts.compression = compression;
        facts.photometric = photometric;
        std::vector<QRgb> pixels;
        for (const uint32_t p : raster)
            pixels.push_back(qRgb(int(TIFFGetR(p)), int(TIFFGetG(p)), int(TIFFGetB(p))));
        countColours(facts, pixels);
    }
    TIFFClose(tiff);
    return facts;
}

// The files of a folder, hidden ones included.
inline QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

}  // namespace runkit
