// A folder run through the window's own code path: "Ouvrir" pressed on the real window
// (offscreen), the dialog answering at once. The image library's six calls are clocked inside
// that same run, so the library's own time for the files and the window's share of the run
// (naming, the folder and log checks, the listing, putting bitmaps in place, painting after each
// file) come from one measurement and no other program's load on the machine falls between them.
//
//   bench_folder_run [folder extension]
// Without arguments it converts 120 copies of the conformance folder's photographs (jpg), which
// are small (0.1 megapixel on average): the window's share is about the same for every file, so
// it weighs most there. Any folder of photographs can be given instead (bench/photos/nature once
// scripts/bench has fetched them).
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <vector>

#include "app/form1.h"
#include "convert/folder_listing.h"
#include "convert/paths.h"
#include "imglib/imglib.h"
#include "widgets/common_dialog.h"

// The six calls, clocked. The window's calls land in these definitions, which pass them on to
// the library's own, loaded here by name, and add up the time spent there.
namespace {

std::chrono::steady_clock::duration libraryTime{};

struct Clocked {
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~Clocked() { libraryTime += std::chrono::steady_clock::now() - start; }
};

template <typename Function>
Function library(const char* name)
{
    static void* const imglib = ::dlopen("libimglib.so.1", RTLD_NOW | RTLD_LOCAL);
    void* const function = imglib ? ::dlsym(imglib, name) : nullptr;
    if (!function) {
        std::fprintf(stderr, "the image library's %s cannot be found\n", name);
        std::exit(1);
    }
    return reinterpret_cast<Function>(function);
}

}  // namespace

extern "C" {

int32_t ReadFileIntoDIB(const char* path)
{
    static const auto call = library<decltype(&ReadFileIntoDIB)>("ReadFileIntoDIB");
    const Clocked clock;
    return call(path);
}

int16_t WriteDIBToFile(int32_t dib, const char* path, int16_t format)
{
    static const auto call = library<decltype(&WriteDIBToFile)>("WriteDIBToFile");
    const Clocked clock;
    return call(dib, path, format);
}

int32_t ReduceDIB(int32_t dib, int32_t colours, int16_t option)
{
    static const auto call = library<decltype(&ReduceDIB)>("ReduceDIB");
    const Clocked clock;
    return call(dib, colours, option);
}

int32_t GrayDIB(int32_t dib)
{
    static const auto call = library<decltype(&GrayDIB)>("GrayDIB");
    const Clocked clock;
    return call(dib);
}

int32_t ZoomDIB(int32_t dib, int32_t xPercent, int32_t yPercent)
{
    static const auto call = library<decltype(&ZoomDIB)>("ZoomDIB");
    const Clocked clock;
    return call(dib, xPercent, yPercent);
}

void DIBFree(int32_t dib)
{
    static const auto call = library<decltype(&DIBFree)>("DIBFree");
    const Clocked clock;
    call(dib);
}

}  // extern "C"

namespace {

constexpr int kRounds = 3;
constexpr int kCopies = 120;

struct OutputKind {
    const char* code;
    const char* option;  // the window's button
};
const OutputKind kKinds[] = {{"tifd", "Option16"}, {"bmp", "Option15"}};

const char* kPhotos[] = {"progressive_3.jpg",     "progressive_cat.jpg", "tm_5dhtsegments.jpg",
                         "tm_jfif-16bit-dqt.jpg", "hopper.jpg",          "pil_sample_rgb.jpg"};

// The input extensions in the order of the window's buttons Option1 … Option14.
const QStringList kExtensions{"bmp", "dib", "jpg", "jif", "tif", "pcx", "tga",
                              "pbm", "pgm", "ppm", "rle", "gem", "ras", "pcd"};

QString conformanceFolder()
{
    const QString set = qEnvironmentVariable("TESSELO_CONFORMANCE");
    return set.isEmpty()
               ? QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../../../shared/conformance")
               : set;
}

// Fills `folder` with kCopies photographs from the conformance folder; false when it is absent.
bool makePhotoFolder(const QString& folder)
{
    const QString source = conformanceFolder() + QStringLiteral("/jpeg/good/");
    for (int i = 0; i < kCopies; ++i) {
        const QString name = QString::fromLatin1(kPhotos[i % std::size(kPhotos)]);
        if (!QFile::copy(source + name,
                         QStringLiteral("%1/%2_%3").arg(folder).arg(i, 3, 10, QLatin1Char('0')).arg(name)))
            return false;
    }
    return true;
}

struct Round {
    double total = 0;    // seconds, the whole press
    double library = 0;  // seconds inside the library's calls
    double overhead() const { return (total - library) / library; }
};

// Each round converts into an empty output folder (its log aside): replacing the outputs of an
// earlier round would time the file system freeing them.
void clearOutputs(const QString& folder)
{
    QDir outputs(folder);
    for (const QString& name : outputs.entryList(QDir::Files))
        if (name != QStringLiteral("Log.txt"))
            outputs.remove(name);
}

Round pressOuvrir(Form1& form, const QString& chosen)
{
    clearOutputs(outputFolder());
    CommonDialog::setAnswerForTesting([&](const QString&) { return chosen; });
    libraryTime = {};
    QElapsedTimer timer;
    timer.start();
    form.Command1->click();
    const double total = double(timer.nsecsElapsed()) / 1e9;
    CommonDialog::setAnswerForTesting({});
    return {total, std::chrono::duration<double>(libraryTime).count()};
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
        extension = QString::fromLocal8Bit(argv[2]).toLower();
    } else if (!QDir().mkdir(folder) || !makePhotoFolder(folder)) {
        std::fprintf(stderr, "the conformance photographs are not there; give a folder and an extension\n");
        return 1;
    }
    const auto option = kExtensions.indexOf(extension);
    if (option < 0) {
        std::fprintf(stderr, "%s is not one of the input extensions\n", qPrintable(extension));
        return 1;
    }
    const auto files = matchingFiles(folder, extension).size();
    if (files == 0) {
        std::fprintf(stderr, "no .%s file in %s\n", qPrintable(extension), qPrintable(folder));
        return 1;
    }

    Form1 form;
    form.show();
    form.Option20->setChecked(true);
    form.findChild<QRadioButton*>(QStringLiteral("Option%1").arg(option + 1))->setChecked(true);
    const QString chosen = folder + u'/' + matchingFiles(folder, extension).first();

    for (const OutputKind& kind : kKinds) {
        form.findChild<QRadioButton*>(QString::fromLatin1(kind.option))->setChecked(true);
        std::vector<Round> rounds;
        for (int i = 0; i < kRounds; ++i)
            rounds.push_back(pressOuvrir(form, chosen));
        std::sort(rounds.begin(), rounds.end(),
                  [](const Round& a, const Round& b) { return a.overhead() < b.overhead(); });
        const Round& median = rounds[rounds.size() / 2];
        std::printf("folder_run_%s_%s_%lldfiles: %.1f files/s through the window, library %.1f files/s of its own "
                    "(%.3f s of %.3f s); window's share %.2f %% of the library's time (%.3f ms a file); "
                    "median of %d rounds; \"%s\"\n",
                    qPrintable(extension), kind.code, static_cast<long long>(files), double(files) / median.total,
                    double(files) / median.library, median.library, median.total, 100.0 * median.overhead(),
                    1000.0 * (median.total - median.library) / double(files), kRounds, qPrintable(form.Text1->text()));
    }
    return 0;
}
