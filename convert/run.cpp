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
#include "convert/paths.h"
#include "convert/folder_listing.h"
#include "widgets/common_dialog.h"

namespace {

// A run blocks the window's input but lets it paint; a request to close the window that arrives
// meanwhile is held back and carried out once the run is over.
class CloseDeferral : public QObject {
public:
    explicit CloseDeferral(QWidget* window) : window_(window) { window_->installEventFilter(this); }
    ~CloseDeferral() override
    {
        window_->removeEventFilter(this);
        if (closeRequested_)
            QMetaObject::invokeMethod(window_, &QWidget::close, Qt::QueuedConnection);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Close)
            return false;
        event->ignore();
        closeRequested_ = true;
        return true;
    }

private:
    QWidget* window_;
    bool closeRequested_ = false;
};

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
    const CloseDeferral deferral(this);
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
