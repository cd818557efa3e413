// A folder run through the window's own code path (the press of "Ouvrir" on the real window,
// offscreen, the dialog's answer given), timed beside the image library doing the same calls on
// the same files by itself. The difference is the window's share: naming, the folder and log
// checks, the listing, painting after each file and, for bitmaps, the copy into place.
//
//   bench_folder_run [folder extension]
// Without arguments it converts 120 copies of the conformance folder's photographs (jpg).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/common_dialog.h"
#include "app/form1.h"
#include "convert/folder_listing.h"
#include "convert/imglib_calls.h"

namespace {

constexpr int kRounds = 5;
constexpr int kCopies = 120;

struct OutputKind {
    const char* code;
    const char* option;  // the window's button
    qint16 format;       // the library's write format number
    qint32 colours;      // the reduction before writing, 0 for none
};
const OutputKind kKinds[] = {{"tifd", "Option16", 16, 255}, {"bmp", "Option15", 0, 0}};

const char* kPhotos[] = {"progressive_3.jpg", "progressive_cat.jpg", "tm_5dhtsegments.jpg",
                         "tm_jfif-16bit-dqt.jpg", "hopper.jpg", "pil_sample_rgb.jpg"};

// The input extensions in the order of the window's buttons Option1 … Option14.
const QStringList kExtensions{"bmp", "dib", "jpg", "jif", "tif", "pcx", "tga",
                              "pbm", "pgm", "ppm", "rle", "gem", "ras", "pcd"};

QString conformanceFolder()
{
    const QString set = qEnvironmentVariable("TESSELO_CONFORMANCE");
    return set.isEmpty() ? QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../../../shared/conformance") : set;
}

// Fills `folder` with kCopies photographs from the conformance folder; false when it is absent.
bool makePhotoFolder(const QString& folder)
{
    const QString source = conformanceFolder() + QStringLiteral("/jpeg/good/");
    for (int i = 0; i < kCopies; ++i) {
        const QString name = QString::fromLatin1(kPhotos[i % std::size(kPhotos)]);
        if (!QFile::copy(source + name, QStringLiteral("%1/%2_%3").arg(folder).arg(i, 3, 10, QLatin1Char('0')).arg(name)))
            return false;
    }
    return true;
}

// The library alone: the calls the pipeline makes for each file, with nothing around them.
double libraryAlone(const QString& folder, const QStringList& names, const OutputKind& kind, const QString& out)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString& name : names) {
        qint32 dib = ImgLib::ReadFileIntoDIB(folder + u'/' + name);
        if (dib != 0 && kind.colours != 0)
            dib = ImgLib::ReduceDIB(dib, kind.colours, -1);
        if (dib != 0)
            ImgLib::WriteDIBToFile(dib, out + u'/' + name + QStringLiteral(".out"), kind.format);
        ImgLib::DIBFree(dib);
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

// The window: one press of "Ouvrir" in folder mode, the dialog answering at once.
double throughWindow(Form1& form, const QString& chosen, const OutputKind& kind)
{
    form.findChild<QRadioButton*>(QString::fromLatin1(kind.option))->setChecked(true);
    CommonDialog::setAnswerForTesting([&](const QString&) { return chosen; });
    QElapsedTimer timer;
    timer.start();
    form.Command1->click();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    CommonDialog::setAnswerForTesting({});
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    qputenv("TMPDIR", QFile::encodeName(scratch.path()));

    QString folder = scratch.filePath(QStringLiteral("photos"));
    QString extension = QStringLiteral("jpg");
    if (argc == 3) {
        folder = QString::fromLocal8Bit(argv[1]);
        extension = QString::fromLocal8Bit(argv[2]);
    } else if (!QDir().mkdir(folder) || !makePhotoFolder(folder)) {
        std::fprintf(stderr, "the conformance photographs are not there; give a folder and an extension\n");
        return 1;
    }
    const QStringList names = matchingFiles(folder, extension);
    if (names.size() < 100)
        std::fprintf(stderr, "note: %lld files, fewer than 100\n", static_cast<long long>(names.size()));
    const QString libraryOut = scratch.filePath(QStringLiteral("library"));
    QDir().mkdir(libraryOut);

    Form1 form;
    form.show();
    form.Option20->setChecked(true);
    const auto option = kExtensions.indexOf(extension.toLower());
    if (option < 0) {
        std::fprintf(stderr, "%s is not one of the input extensions\n", qPrintable(extension));
        return 1;
    }
    form.findChild<QRadioButton*>(QStringLiteral("Option%1").arg(option + 1))->setChecked(true);

    for (const OutputKind& kind : kKinds) {
        std::vector<double> library, window;
        for (int round = 0; round < kRounds; ++round) {
            library.push_back(libraryAlone(folder, names, kind, libraryOut));
            window.push_back(throughWindow(form, folder + u'/' + names.value(0), kind));
        }
        const double lib = median(library), win = median(window);
        const double files = double(names.size());
        std::printf("folder_run_%s_%lldfiles: window %.1f files/s, library alone %.1f files/s; "
                    "window overhead %+.2f %% (%+.3f ms a file); medians of %d rounds; %s\n",
                    kind.code, static_cast<long long>(names.size()), files / win, files / lib,
                    100.0 * (win - lib) / lib, 1000.0 * (win - lib) / files, kRounds,
                    qPrintable(form.Text1->text()));
    }
    return 0;
}
