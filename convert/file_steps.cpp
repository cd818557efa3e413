#include "convert/file_steps.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <filesystem>

namespace {

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool copyBytes(QFile& from, QFile& to)
{
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = from.read(buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (to.write(buffer, n) != n)
            return false;
    }
}

}  // namespace

bool sameFile(const QString& a, const QString& b)
{
    std::error_code error;
    return std::filesystem::equivalent(fsPath(a), fsPath(b), error) && !error;
}

bool replaceWithCopy(const QString& from, const QString& to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    // Hidden, so that a folder run of the output folder never lists it.
    const QFileInfo target(to);
    QTemporaryFile copy(target.path() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
    if (!copy.open() || !copyBytes(source, copy) || !copy.setPermissions(source.permissions()))
        return false;
    copy.close();
    if (copy.error() != QFileDevice::NoError)
        return false;
    // Renaming over `to` replaces whatever entry has that name, a link included.
    std::error_code error;
    std::filesystem::rename(fsPath(copy.fileName()), fsPath(to), error);
    if (error)
        return false;
    copy.setAutoRemove(false);
    return true;
}

bool moveIntoPlace(const QString& from, const QString& to)
{
    std::error_code error;
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    if (!error)
        return true;
    if (error != std::errc::cross_device_link)
        return false;
    const bool copied = replaceWithCopy(from, to);
    QFile::remove(from);
    return copied;
}
