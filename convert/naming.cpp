#include "convert/naming.h"

#include <QDir>
#include <algorithm>

#include "recipe/naming.h"

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
    const auto name =
        recipe::windowOutputName(input.mid(separator + 1).toStdString(), recipe::formatOfCode(code.toStdString()));
    if (!name)
        return std::nullopt;
    return folder + QDir::separator() + QString::fromStdString(*name);
}
