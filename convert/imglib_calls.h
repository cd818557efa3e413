// The image library's six calls as the window makes them. Paths travel as 8-bit text in the
// local encoding; results are tested only for 0 (no image) and false (not written). The
// namespace is named after this file, apart from the library's own C++ API in imglib::.
#pragma once

#include <QString>
#include <QtGlobal>

namespace imglibCalls {

qint32 ReadFileIntoDIB(const QString& path);
bool WriteDIBToFile(qint32 dib, const QString& path, qint16 format);
qint32 ReduceDIB(qint32 dib, qint32 colours, qint16 option);
qint32 GrayDIB(qint32 dib);
qint32 ZoomDIB(qint32 dib, qint32 xPercent, qint32 yPercent);
void DIBFree(qint32 dib);

}  // namespace imglibCalls
