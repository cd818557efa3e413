// The per-file pipeline: release the previous image, read, change the colours and the size, then
// the output step, which names the output, re-creates the output folder and log if they have
// gone, and writes. A failing step puts its own message in the message line, sets aigan and
// ends; each step keeps the exact wording it has always had.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "app/form1.h"
#include "app/paths.h"
#include "convert/file_steps.h"
#include "convert/imglib_calls.h"
#include "convert/naming.h"

namespace {

const QString kReadFailed = QStringLiteral("Anomalie. Conversion avortée");
const QString kOutputFailed = QStringLiteral(" Anomalie. Conversion avortée.");
const QString kTwoColoursFailed = QStringLiteral(" Anomalie. conversion avortée.");

void anomaly(Form1& form, const QString& message)
{
    form.Text1->setText(message);
    form.aigan = 1;
}

// A transform's result replaces the current image; 0 leaves it and is the step's anomaly.
void takeResult(Form1& form, qint32 result, const QString& message)
{
    if (result == 0)
        anomaly(form, message);
    else
        form.dib = result;
}

// The output folder and a fresh log, made again only when the folder has gone since start-up
// (creating it fails while it stands). Any failure ends the stage quietly.
void folderAndLogStage(Form1& form)
{
    if (!createOutputFolder())
        return;
    form.logx = logPath();
    if (createLog(form.logx))
        form.ctr = 0;
}

// Whether writing nomsor, or for a bitmap the intermediate file, would overwrite the input.
bool wouldOverwriteInput(const Form1& form, bool viaIntermediate)
{
    return sameFile(form.nomfi, form.nomsor) || (viaIntermediate && sameFile(form.nomfi, form.cible));
}

}  // namespace

void Form1::convertir()
{
    liberer();
    lireimage();
    if (aigan == 1)
        return;
    transformer();
    if (aigan == 1)
        return;
    sortie();
}

void Form1::liberer()
{
    if (dib != 0)
        ImgLib::DIBFree(dib);
}

void Form1::lireimage()
{
    dib = ImgLib::ReadFileIntoDIB(nomfi);
    if (dib == 0)
        anomaly(*this, kReadFailed);
}

void Form1::transformer()
{
    if (Check1->isChecked()) {
        // The slider at p shows p + 1 colours; that is the count the image gets.
        nbcoul = Slider1->value() + 1;
        redopt = -1;
        takeResult(*this, ImgLib::ReduceDIB(dib, nbcoul, redopt), kReadFailed);
    } else if (Option21->isChecked()) {
        takeResult(*this, ImgLib::GrayDIB(dib), kReadFailed);
    }
    if (aigan == 1 || Slider2->value() == 100)
        return;
    zoom1 = Slider2->value();
    zoom2 = zoom1;
    takeResult(*this, ImgLib::ZoomDIB(dib, zoom1, zoom2), kReadFailed);
}

void Form1::sortie()
{
    nomsor.clear();
    // An input that cannot name an output (no folder, too short a path or name) fails.
    const auto output = outputPathFor(nomfi, filtrs, outputFolder());
    if (!output) {
        anomaly(*this, kOutputFailed);
        return;
    }
    folderAndLogStage(*this);
    nomsor = *output;

    const bool bitmap = filtrs.size() <= 3;
    if (!outputFolderIsUsable() || wouldOverwriteInput(*this, bitmap)) {
        anomaly(*this, kOutputFailed);
        return;
    }

    // Write stage. A bitmap goes to the intermediate file, which then takes the output's place
    // (copied there and deleted, in one rename where it can).
    if (bitmap) {
        if (!ImgLib::WriteDIBToFile(dib, cible, fmtbmp)) {
            anomaly(*this, kOutputFailed);
            return;
        }
        if (!moveIntoPlace(cible, nomsor)) {
            QFile::remove(cible);
            anomaly(*this, kOutputFailed);
        }
        return;
    }
    switch (filtrs.at(3).unicode()) {
    case u'd':
        tif = 16;
        reduire255();
        break;
    case u'n':
        tif = 17;
        reduire255();
        break;
    case u'p':
        tif = 19;
        reduire255();
        break;
    default:
        tif = 18;
        reduire2();
        break;
    }
    if (aigan == 1)
        return;
    ecrireimage();
}

void Form1::reduire255()
{
    nbcoul = 255;
    redopt = -1;
    takeResult(*this, ImgLib::ReduceDIB(dib, nbcoul, redopt), kOutputFailed);
}

void Form1::reduire2()
{
    nbcoul = 2;
    redopt = -1;
    takeResult(*this, ImgLib::ReduceDIB(dib, nbcoul, redopt), kTwoColoursFailed);
}

void Form1::ecrireimage()
{
    if (!ImgLib::WriteDIBToFile(dib, nomsor, tif))
        anomaly(*this, kOutputFailed);
}
