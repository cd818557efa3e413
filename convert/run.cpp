// The conversion run: the press of "Ouvrir", which converts the chosen file or, through
// convdossier, every file of its folder with the input extension. Failed files go to the log.
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <algorithm>
#include <climits>

#include "app/form1.h"
#include "convert/folder_listing.h"
#include "convert/paths.h"
#include "widgets/common_dialog.h"
#include "widgets/event_hold.h"

namespace {

// Appends the failed file's path to the log and counts the failure, logged or not; false when
// the log could not take the line. Nothing is written into an output folder that is not ours.
bool recordFailure(Form1& form)
{
    form.ctr += 1;
    return outputFolderIsUsable() && appendLogLine(form.logx, form.nomfi);
}

QString folderRunMessage(qsizetype unlogged)
{
    QString message = QStringLiteral(" Conversion des fichiers terminée");
    if (unlogged == 1)
        message += QStringLiteral(" (1 échec non inscrit dans Log.txt)");
    else if (unlogged > 1)
        message += QStringLiteral(" (%1 échecs non inscrits dans Log.txt)").arg(unlogged);
    return message;
}

void paintProgress() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace

void Form1::Command1_Click()
{
    // A run blocks the windows' input but lets them paint. A request to close a window, or an
    // activation of About or Help, that arrives meanwhile is carried out once the run is over.
    EventHold hold;
    hold.hold(this, {QEvent::Close});
    for (QWidget* window : infoWindows())
        hold.hold(window, {QEvent::Close, QEvent::WindowActivate});
    aigan = 0;
    Frame7->hide();
    Text1->setText(QString());
    CommonDialog1->FileName.clear();
    nomfi.clear();
    if (aig != 0) {
        aig = 0;
        return;
    }
    choixlecture();
    choixecriture();
    CommonDialog1->Filter = filtre.toUpper() + QStringLiteral(" |*.") + filtre;
    CommonDialog1->ShowOpen();
    nomfi = CommonDialog1->FileName;

    if (!Option20->isChecked()) {
        // A cancelled dialog leaves an empty name.
        if (CommonDialog1->FileName.size() < 7 || nomfi.isEmpty())
            return;
        convertir();
        if (aigan == 1) {
            recordFailure(*this);
            return;
        }
        Text1->setText(QStringLiteral(" Conversion de ") + nomfi + QStringLiteral(" achevée."));
        return;
    }

    if (nomfi.isEmpty())
        return;
    Frame7->show();
    convdossier();
    ProgressBar1->setValue(ProgressBar1->maximum());
    Text1->setText(folderRunMessage(unlogged_));
}

void Form1::convdossier()
{
    unlogged_ = 0;
    // The folder of the chosen file; the dialog leaves the current folder alone. The folder is
    // listed once, so the files the run writes are never visited.
    const QDir folder(QFileInfo(nomfi).absolutePath());
    const QStringList names = matchingFiles(folder.path(), filtre);
    if (names.size() >= 2)
        ProgressBar1->setMaximum(int(std::min<qsizetype>(names.size() - 1, INT_MAX)));
    paintProgress();

    for (qsizetype i = 0; i < names.size(); ++i) {
        nomfi = QDir::toNativeSeparators(folder.filePath(names[i]));
        aigan = 0;
        convertir();
        if (aigan != 0 && !recordFailure(*this))
            ++unlogged_;
        ProgressBar1->setValue(int(std::min<qsizetype>(i, INT_MAX)));
        paintProgress();
    }
}
