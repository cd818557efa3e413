#include <QApplication>

#include "app/form1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tesselo");
    QApplication::setApplicationVersion(TESSELO_VERSION);
    Form1 window;  // its start-up runs as it is made
    window.show();
    return QApplication::exec();  // ends when the last window is closed
}
