#include "widgets/common_dialog.h"

#include <QFileDialog>

namespace {
CommonDialog::Answer& testAnswer()
{
    static CommonDialog::Answer answer;
    return answer;
}
}  // namespace

void CommonDialog::setAnswerForTesting(Answer answer) { testAnswer() = std::move(answer); }

QString CommonDialog::dialogFilter() const
{
    const auto bar = Filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return Filter;
    return Filter.left(bar) + QLatin1Char('(') + Filter.mid(bar + 1) + QLatin1Char(')');
}

void CommonDialog::ShowOpen()
{
    if (testAnswer()) {
        FileName = testAnswer()(dialogFilter());
        return;
    }
    // Name filters match in any letter case, so "PHOTO.JPG" is listed under "*.jpg".
    FileName = QFileDialog::getOpenFileName(owner_, QString(), QString(), dialogFilter());
}
