#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>
#include <optional>

#include "app/form1.h"

namespace {

// What the command line asks for, read before any window system is opened so that --help and
// --version work without a display. The window itself takes no arguments: anything else is a
// usage error. Returns the exit status when the program should end here.
std::optional<int> commandLineExit(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Converts raster images in a window: one file, or every file of one type in a folder.\n"
        "The results go into the folder Vamko of the temporary folder ($TMPDIR, usually /tmp).");
    // Options of our own, not Qt's: Qt's help would also offer its window-system options, which
    // this program does not take.
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    parser.addOptions({help, version});

    const auto print = [](FILE* stream, const QString& text) { std::fputs(text.toLocal8Bit().constData(), stream); };
    if (!parser.parse(arguments)) {
        print(stderr, "tesselo: " + parser.errorText() + " Try 'tesselo --help'.\n");
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        print(stderr, "tesselo: takes no file or other argument (" + parser.positionalArguments().constFirst() + ")\n");
        return 2;
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText().replace("<executable_name>", "tesselo"));
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("tesselo %1\n").arg(TESSELO_VERSION));
        return 0;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (const auto status = commandLineExit(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tesselo");
    QApplication::setApplicationVersion(TESSELO_VERSION);
    QGuiApplication::setDesktopFileName(TESSELO_APP_ID);  // the desktop entry, and so its icon
    Form1 window;                                         // its start-up runs as it is made
    window.show();
    return QApplication::exec();  // ends when the last window is closed
}
