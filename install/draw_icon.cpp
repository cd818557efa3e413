// Writes the program's icon as a PNG file of the given side, for the desktop's icon theme:
//   draw_icon SIDE FILE
// The picture is the one the main window draws for itself.
#include <QSaveFile>
#include <QString>
#include <cstdio>

#include "widgets/icons.h"

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("usage: draw_icon SIDE FILE\n", stderr);
        return 2;
    }
    bool number = false;
    const int side = QString::fromLocal8Bit(argv[1]).toInt(&number);
    if (!number || side < 1 || side > 1024) {
        std::fprintf(stderr, "draw_icon: side %s is not a number from 1 to 1024\n", argv[1]);
        return 2;
    }
    QSaveFile file(QString::fromLocal8Bit(argv[2]));  // the whole file or none
    if (!file.open(QIODevice::WriteOnly) || !programPicture(side).save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "draw_icon: cannot write %s: %s\n", argv[2], file.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
