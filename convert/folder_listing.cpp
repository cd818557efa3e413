#include "convert/folder_listing.h"

#include <QDir>
#include <algorithm>

QStringList matchingFiles(const QString& folder, const QString& extension)
{
    // Name filters match in any letter case unless told otherwise.
    QStringList names = QDir(folder).entryList({QStringLiteral("*.") + extension}, QDir::Files, QDir::Unsorted);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int byCapitals = QString::compare(a.toUpper(), b.toUpper(), Qt::CaseSensitive);
        return byCapitals != 0 ? byCapitals < 0 : a < b;
    });
    return names;
}
