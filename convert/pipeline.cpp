// The per-file pipeline: release the previous image, read, change the colours and the size, then
// the output step, which names the output, re-creates the output folder and log if they have
// gone, and writes. A failing step puts its own message in the message line, sets aigan and
// ends.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "app/form1.h"
#include "convert/file_steps.h"
#include "convert/imglib_calls.h"
#include "convert/naming.h"
#include "convert/paths.h"
#include "recipe/steps.h"

namespace {

// The three messages differ only by a leading space, a full stop or a capital, and that is what
// tells the stage that failed: reading or changing the image, the output, the two-colour reduction.
const QString kReadOrTransformFailed = QStringLiteral("Anomalie. Conversion avortée");
const QString kOutputFailed = QStringLiteral(" Anomalie. Conversion avortée.");
const QString kTwoColoursFailed = QStringLiteral(" Anomalie. conversion avortée.");

void anomaly(Form1& form, const QString& message)
{
    form.Text1->setText(message);
    form.aigan = 1;
}

// A transform's result replaces the current image; 0 leaves it and is the step's anomaly.
bool takeResult(Form1& form, qint32 result, const QString& message)
{
    if (result == 0)
        anomaly(form, message);
    else
        form.dib = result;
    return result != 0;
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

// The window's procedures as the steps of the shared conversion order.
struct FileSteps {
    Form1& form;
    bool read() { return form.lireimage(), form.aigan == 0; }
    bool transform() { return form.transformer(), form.aigan == 0; }
    bool output() { return form.sortie(), form.aigan == 0; }
};

struct TransformSteps {
    Form1& form;
    bool reduce(qint32 colours)
    {
        form.nbcoul = colours;
        form.redopt = -1;
        return takeResult(form, imglibCalls::ReduceDIB(form.dib, form.nbcoul, form.redopt), kReadOrTransformFailed);
    }
    bool grey() { return takeResult(form, imglibCalls::GrayDIB(form.dib), kReadOrTransformFailed); }
    bool zoom(qint32 percent)
    {
        form.zoom1 = percent;
        form.zoom2 = form.zoom1;
        return takeResult(form, imglibCalls::ZoomDIB(form.dib, form.zoom1, form.zoom2), kReadOrTransformFailed);
    }
};

// The write stage. A bitmap goes to the intermediate file, which then takes the output's place
// (copied there and deleted, in one rename where it can); a TIFF is written in place.
struct OutputSteps {
    Form1& form;
    bool reduce(qint32 colours)
    {
        colours == 2 ? form.reduire2() : form.reduire255();
        return form.aigan == 0;
    }
    bool write(const recipe::OutputFormat& format)
    {
        if (format.writeNumber != form.fmtbmp) {
            form.ecrireimage();
            return form.aigan == 0;
        }
        if (!imglibCalls::WriteDIBToFile(form.dib, form.cible, form.fmtbmp)) {
            anomaly(form, kOutputFailed);
            return false;
        }
        if (!moveIntoPlace(form.cible, form.nomsor)) {
            QFile::remove(form.cible);
            anomaly(form, kOutputFailed);
            return false;
        }
        return true;
    }
};

}  // namespace

void Form1::convertir()
{
    liberer();
    FileSteps steps{*this};
    recipe::convert(steps);
}

void Form1::liberer()
{
    if (dib != 0)
        imglibCalls::DIBFree(dib);
}

void Form1::lireimage()
{
    dib = imglibCalls::ReadFileIntoDIB(nomfi);
    if (dib == 0)
        anomaly(*this, kReadOrTransformFailed);
}

void Form1::transformer()
{
    recipe::Settings settings;
    // The slider at p shows p + 1 colours; that is the count the image gets.
    settings.colours = Check1->isChecked() ? Slider1->value() + 1 : 0;
    settings.grey = Option21->isChecked();
    settings.scale = Slider2->value();
    TransformSteps steps{*this};
    recipe::transform(steps, settings);
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

    const recipe::OutputFormat& format = recipe::formatOfCode(filtrs.toStdString());
    const bool bitmap = format.writeNumber == fmtbmp;
    if (!outputFolderIsUsable() || wouldOverwriteInput(*this, bitmap)) {
        anomaly(*this, kOutputFailed);
        return;
    }
    if (!bitmap)
        tif = format.writeNumber;
    OutputSteps steps{*this};
    recipe::finish(steps, format);
}

void Form1::reduire255()
{
    nbcoul = 255;
    redopt = -1;
    takeResult(*this, imglibCalls::ReduceDIB(dib, nbcoul, redopt), kOutputFailed);
}

void Form1::reduire2()
{
    nbcoul = 2;
    redopt = -1;
    takeResult(*this, imglibCalls::ReduceDIB(dib, nbcoul, redopt), kTwoColoursFailed);
}

void Form1::ecrireimage()
{
    if (!imglibCalls::WriteDIBToFile(dib, nomsor, tif))
        anomaly(*this, kOutputFailed);
}
