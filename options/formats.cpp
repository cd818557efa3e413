#include "options/formats.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <string_view>

#include "recipe/formats.h"

namespace {

// The entry of the tested button `selected` of a table in test order; the last entry, never
// tested, is the fall-back.
template <class Table, class Text>
QString pick(int selected, const Table& table, Text text)
{
    const bool tested = selected >= 0 && std::size_t(selected) + 1 < table.size();
    const std::string_view entry = text(table[tested ? std::size_t(selected) : table.size() - 1]);
    return QString::fromLatin1(entry.data(), qsizetype(entry.size()));
}

}  // namespace

QString inputExtension(int selected)
{
    return pick(selected, recipe::kInputExtensions, [](std::string_view extension) { return extension; });
}

QString writeFormatCode(int selected)
{
    return pick(selected, recipe::kOutputFormats, [](const recipe::OutputFormat& format) { return format.code; });
}

int firstSelected(std::initializer_list<const QRadioButton*> tested)
{
    int index = 0;
    for (const QRadioButton* option : tested) {
        if (option->isChecked())
            return index;
        ++index;
    }
    return -1;
}

void clearOption(QRadioButton* option)
{
    QButtonGroup* group = option->group();
    const bool exclusive = group ? group->exclusive() : option->autoExclusive();
    const auto setExclusive = [&](bool on) { group ? group->setExclusive(on) : option->setAutoExclusive(on); };
    setExclusive(false);
    option->setChecked(false);
    setExclusive(exclusive);
}
