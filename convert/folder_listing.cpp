#include "convert/folder_listing.h"

#include <QDir>
#include <algorithm>
#include <utility>
#include <vector>

QStringList matchingFiles(const QString& folder, const QString& extension)
{
    // Name filters match in any letter case unless told otherwise.
    const QStringList found = QDir(folder).entryList({QStringLiteral("*.") + extension}, QDir::Files, QDir::Unsorted);
    std::vector<std::pair<QString, QString>> byCapitals;  // (name in capitals, name)
    byCapitals.reserve(found.size());
    for (const QString& name : found)
        byCapitals.emplace_back(name.toUpper(), name);
    std::sort(byCapitals.begin(), byCapitals.end());
    QStringList names;
    names.reserve(found.size());
    for (auto& [capitals, name] : byCapitals)
        names << std::move(name);
    return names;
}
