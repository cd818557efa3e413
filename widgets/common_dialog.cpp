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
    // Qt's own dialog, whose name filters match in any letter case ("PHOTO.JPG" is listed under
    // "*.jpg"), as a folder run does; a native dialog may match the pattern in one case only.
    QFileDialog dialog(owner_, QString(), QString(), dialogFilter());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    FileName = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}
