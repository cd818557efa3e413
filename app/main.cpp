#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tesselo");
    QApplication::setApplicationVersion(TESSELO_VERSION);
    QWidget window;  // the main window comes with the window work
    window.show();
    return QApplication::exec();
}
