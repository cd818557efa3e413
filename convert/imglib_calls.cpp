#include "convert/imglib_calls.h"

#include <QFile>

#include "imglib/imglib.h"

namespace {

// A path with a NUL in it would reach the library cut short, naming another file.
bool passable(const QString& path) { return !path.contains(QChar(u'\0')); }

}  // namespace

namespace imglibCalls {

qint32 ReadFileIntoDIB(const QString& path)
{
    if (!passable(path))
        return 0;
    return ::ReadFileIntoDIB(QFile::encodeName(path).constData());
}

bool WriteDIBToFile(qint32 dib, const QString& path, qint16 format)
{
    if (!passable(path))
        return false;
    return ::WriteDIBToFile(dib, QFile::encodeName(path).constData(), format) != 0;
}

qint32 ReduceDIB(qint32 dib, qint32 colours, qint16 option) { return ::ReduceDIB(dib, colours, option); }

qint32 GrayDIB(qint32 dib) { return ::GrayDIB(dib); }

qint32 ZoomDIB(qint32 dib, qint32 xPercent, qint32 yPercent) { return ::ZoomDIB(dib, xPercent, yPercent); }

void DIBFree(qint32 dib) { ::DIBFree(dib); }

}  // namespace imglibCalls
