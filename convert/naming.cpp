#include "convert/naming.h"

#include <QDir>
#include <algorithm>

namespace {

// Qt hands paths over with "/" on every platform; on Windows a typed path may use "\" too.
qsizetype lastSeparator(const QString& path)
{
#ifdef Q_OS_WIN
    return std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
#else
    return path.lastIndexOf(u'/');
#endif
}

}  // namespace

std::optional<QString> outputPathFor(const QString& input, const QString& code, const QString& folder)
{
    const auto separator = lastSeparator(input);
    if (separator < 0 || input.size() < 7)
        return std::nullopt;
    const QString name = input.mid(separator + 1);
    if (name.size() < 3)
        return std::nullopt;
    return folder + QDir::separator() + name.chopped(3) + code.left(3);
}
