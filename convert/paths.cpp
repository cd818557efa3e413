#include "convert/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString inTemp(const QString& relative)
{
    return QDir::toNativeSeparators(QDir::tempPath() + QLatin1Char('/') + relative);
}

QByteArray logLine(const QString& line)
{
    QString visible = line;
    visible.replace(QLatin1Char('\r'), QLatin1String("\\r")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return visible.toLocal8Bit() + "\r\n";
}

enum class Mode { Replace, Append };

#ifdef Q_OS_UNIX
bool writeLogBytes(const QString& path, Mode mode, const QByteArray& bytes)
{
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (mode == Mode::Replace ? O_TRUNC : O_APPEND);
    const int fd = ::open(QFile::encodeName(path).constData(), flags, 0666);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const auto n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    return ::close(fd) == 0 && done == bytes.size();
}
#else
bool writeLogBytes(const QString& path, Mode mode, const QByteArray& bytes)
{
    if (QFileInfo(path).isSymLink())
        return false;
    QFile file(path);
    const auto how = mode == Mode::Replace ? QIODevice::Truncate : QIODevice::Append;
    return file.open(QIODevice::WriteOnly | how) && file.write(bytes) == bytes.size() && file.flush();
}
#endif

}  // namespace

QString outputFolder() { return inTemp(QStringLiteral("Vamko")); }
QString logPath() { return inTemp(QStringLiteral("Vamko/Log.txt")); }
QString intermediatePath() { return inTemp(QStringLiteral("Dib.bmp")); }

bool createOutputFolder()
{
#ifdef Q_OS_UNIX
    if (::mkdir(QFile::encodeName(outputFolder()).constData(), 0777) != 0)
        return false;
#else
    if (!QDir().mkdir(outputFolder()))
        return false;
#endif
    return outputFolderIsUsable();
}

bool outputFolderIsUsable()
{
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::lstat(QFile::encodeName(outputFolder()).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid();
#else
    const QFileInfo folder(outputFolder());
    return folder.isDir() && !folder.isSymLink();
#endif
}

bool createLog(const QString& path)
{
    return !path.isEmpty() && writeLogBytes(path, Mode::Replace, logLine(kLogHeader));
}

bool appendLogLine(const QString& path, const QString& line)
{
    return !path.isEmpty() && writeLogBytes(path, Mode::Append, logLine(line));
}

void deleteLog(const QString& path)
{
    if (!path.isEmpty())
        QFile::remove(path);
}
