#include "options/formats.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <array>

namespace {

QString pick(int selected, const auto& codes, const char* fallBack)
{
    const bool tested = selected >= 0 && std::size_t(selected) < codes.size();
    return QLatin1String(tested ? codes[std::size_t(selected)] : fallBack);
}

}  // namespace

QString inputExtension(int selected)
{
    static constexpr std::array codes = {"bmp", "dib", "jpg", "jif", "tif", "pcx", "tga",
                                         "pbm", "pgm", "ppm", "rle", "gem", "ras"};
    return pick(selected, codes, "pcd");
}

QString writeFormatCode(int selected)
{
    static constexpr std::array codes = {"bmp", "tifd", "tifp", "tifn"};
    return pick(selected, codes, "tifh");
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
