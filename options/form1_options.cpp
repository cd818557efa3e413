// The option procedures of the main window: format selection, the colour control and the
// resize control.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "app/form1.h"
#include "options/formats.h"
#include "options/text_rules.h"

void Form1::choixlecture()
{
    filtre = inputExtension(firstSelected({Option1, Option2, Option3, Option4, Option5, Option6, Option7, Option8,
                                           Option9, Option10, Option11, Option12, Option13}));
}

void Form1::choixecriture() { filtrs = writeFormatCode(firstSelected({Option15, Option16, Option17, Option22})); }

void Form1::Check1_Click()
{
    if (Check1->checkState() == Qt::Checked) {
        Check1->setText(QStringLiteral(" Contrôle ci-dessus actif"));
        Slider1->setEnabled(true);
        Option21->setEnabled(false);
        clearOption(Option21);
    } else {
        Check1->setText(QStringLiteral(" Contrôle ci-dessus inactif"));
        Slider1->setEnabled(false);
        Slider1->setValue(256);  // held at the maximum, 255
        Option21->setEnabled(true);
    }
}

void Form1::Slider1_Change() { Text3->setText(colourCountText(Slider1->value())); }

void Form1::Slider2_Change() { Text2->setText(percentText(Slider2->value())); }
