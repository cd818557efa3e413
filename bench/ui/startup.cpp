// startup_to_painted_window: the time from launching the program to its main window painted
// for the first time, start-up sequence included (output folder, fresh log). Each run is a
// fresh process, so loading the libraries counts; the output folder goes to a scratch TMPDIR.
//   bench_startup [runs]     default 15; prints the median, the fastest and the slowest
// It uses the display it finds (run it under xvfb-run for X11) and the offscreen platform when
// there is none.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/form1.h"

namespace {

const char kChild[] = "--child";

// The program's own start, reporting on standard output once the window has been painted.
int child(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    Form1 window;
    struct FirstPaint : QObject {
        QElapsedTimer* clock;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint) {
                // Report once the paint has been handed to the window system.
                QTimer::singleShot(0, qApp, [ms = double(clock->nsecsElapsed()) / 1e6] {
                    std::printf("painted %.3f\n", ms);
                    std::fflush(stdout);
                    QApplication::quit();
                });
                qApp->removeEventFilter(this);
            }
            return false;
        }
    } firstPaint;
    firstPaint.clock = &sinceMain;
    window.installEventFilter(&firstPaint);
    window.show();
    return QApplication::exec();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && qstrcmp(argv[1], kChild) == 0)
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 15;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains("DISPLAY") && !environment.contains("WAYLAND_DISPLAY") &&
        !environment.contains("QT_QPA_PLATFORM"))
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    std::printf("platform: %s\n",
                qPrintable(environment.value("QT_QPA_PLATFORM", environment.contains("DISPLAY") ? "xcb" : "?")));

    std::vector<double> launchToPaint, mainToPaint;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir scratch;
        environment.insert("TMPDIR", scratch.path());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        program.start(QCoreApplication::applicationFilePath(), {kChild});
        QByteArray line;
        while (!line.endsWith('\n') && program.waitForReadyRead(10000))
            line += program.readAll();
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        program.waitForFinished(10000);
        if (!line.startsWith("painted ")) {
            std::fprintf(stderr, "run %d: the window was never painted\n", run + 1);
            return 1;
        }
        launchToPaint.push_back(elapsed);
        mainToPaint.push_back(line.mid(8).trimmed().toDouble());
    }

    std::printf("startup_to_painted_window: median %.1f ms (fastest %.1f, slowest %.1f) over %d runs\n",
                median(launchToPaint), *std::min_element(launchToPaint.begin(), launchToPaint.end()),
                *std::max_element(launchToPaint.begin(), launchToPaint.end()), runs);
    std::printf("  of which from main() to the paint: median %.1f ms\n", median(mainToPaint));
    std::printf("  budget 300 ms: %s\n", median(launchToPaint) < 300 ? "met" : "NOT met");
    return 0;
}
