// The files a folder run converts.
#pragma once

#include <QString>
#include <QStringList>

// The names (no folder) of the ordinary files of `folder` whose extension is `extension` in any
// letter case, in name order as Windows lists an NTFS folder: letters compared as capitals, the
// exact names breaking ties. Hidden files and folders are left out.
QStringList matchingFiles(const QString& folder, const QString& extension);
