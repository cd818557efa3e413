#include "options/text_rules.h"

QString colourCountText(qint32 position)
{
    const QString digits = QString::number(qint64(position) + 1);
    for (const QString& candidate : {QStringLiteral("  ") + digits, QStringLiteral(" ") + digits})
        if (candidate.size() <= 3)
            return candidate;
    return digits;
}

QString percentText(qint32 position)
{
    const QString digits = QString::number(position);
    const QString padded = QStringLiteral(" ") + digits + QStringLiteral("  %");
    return padded.size() <= 6 ? padded : digits + QStringLiteral("  %");
}
