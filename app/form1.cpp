// The main window: its controls as designed, their wiring, the start-up, the shutdown and the
// three small buttons.
#include "app/form1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "convert/paths.h"
#include "info/form2.h"
#include "info/form3.h"
#include "options/text_rules.h"
#include "widgets/centre.h"
#include "widgets/common_dialog.h"
#include "widgets/controls.h"
#include "widgets/icons.h"

namespace {

const QString kStartupWarning = QStringLiteral(
    " Impossible de créer le répertoire d'écriture. S'il existe déjà, changez son nom pour préserver son contenu.");

// Shows an information window without blocking the main window: created on the first call,
// brought to the front and activated on the next ones.
template <class Window>
void showModeless(QPointer<Window>& window)
{
    if (!window) {
        window = new Window;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
    } else {
        window->raise();
    }
    window->activateWindow();
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral(" Orlanto - ImgLib - (Le résultat est écrit en %1)").arg(outputFolder()));
    setWindowIcon(mainWindowIcon());
    setFixedSize(pixels(8655), pixels(6615));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor("#400040"));
    colours.setColor(QPalette::WindowText, QColor("#800080"));
    setPalette(colours);
    setAutoFillBackground(true);

    // name, container, caption or text, left/top/width/height in twips, tab, font points, back, text
    // (one control a line, so that the block reads as the table it is)
    ControlBuilder ui;
    // clang-format off
    Frame7 = ui.frame(this, "Frame7", QString(), {6720, 5520, 1830, 495}, 36, {8.25, "#400040", "#FFFF00"});
    ProgressBar1 = ui.progressBar(Frame7, "ProgressBar1", {0, 120, 1815, 375}, 37);
    Command4 = ui.button(this, "Command4", "A propos", {6720, 1800, 1815, 495}, 34, {13.5, kDefault, kDefault});
    Command3 = ui.button(this, "Command3", "Aide", {6720, 2520, 1815, 495}, 33, {13.5, kDefault, kDefault});
    Command2 = ui.button(this, "Command2", "Quitter", {6720, 840, 1815, 495}, 32, {13.5, "#008080", kDefault});
    Command1 = ui.button(this, "Command1", "Ouvrir", {6720, 120, 1815, 495}, 31, {13.5, kDefault, kDefault});
    Text1 = ui.textBox(this, "Text1", QString(), {120, 6120, 8415, 375}, 30, {8.25, "#FFC080", "#FF0000"});
    Frame1 = ui.frame(this, "Frame1", " Options", {120, 120, 6495, 5895}, 0, {13.5, "#00C0C0", kDefault});
    Frame6 = ui.frame(Frame1, "Frame6", " Redimensionnement (10 à 200 %)", {1440, 4320, 4935, 1455}, 28, {13.5, "#C0C000", "#C00000"});
    Text2 = ui.textBox(Frame6, "Text2", "100 %", {2040, 960, 735, 375}, 38, {9.75, "#000000", "#00FF00"});
    Slider2 = ui.slider(Frame6, "Slider2", {120, 480, 4695, 390}, 29);
    Frame5 = ui.frame(Frame1, "Frame5", " Couleurs (De 2 à 256)", {1440, 2640, 4935, 1575}, 24, {13.5, "#C000C0", "#0000C0"});
    Text3 = ui.textBox(Frame5, "Text3", QString(), {2520, 960, 495, 375}, 39, {9.75, "#000000", "#00FF00"});
    Check1 = ui.checkBox(Frame5, "Check1", "Contrôle ci-dessus actif", {120, 1080, 2295, 255}, 27, {8.25, "#FF0000", "#000000"});
    Option21 = ui.option(Frame5, "Option21", " Niveaux de gris", {3120, 1080, 1695, 255}, 26, {8.25, "#404040", "#FFFF00"});
    Slider1 = ui.slider(Frame5, "Slider1", {120, 480, 4695, 375}, 25);
    Frame4 = ui.frame(Frame1, "Frame4", " Type de conversion", {3120, 360, 3255, 2175}, 21, {13.5, "#C0C0C0", "#008000"});
    Option20 = ui.option(Frame4, "Option20", " Multiconversion", {120, 1440, 3015, 495}, 23, {9.75, "#00FF00", kDefault});
    Option19 = ui.option(Frame4, "Option19", " Monoconversion", {120, 480, 3015, 495}, 22, {9.75, "#00FF00", "#000000"});
    Frame3 = ui.frame(Frame1, "Frame3", " Ecriture", {1440, 360, 1575, 2175}, 2, {9.75, "#FF8080", "#400000"});
    Option22 = ui.option(Frame3, "Option22", " Tif (non c.)", {120, 1080, 1335, 255}, 35, {8.25, "#FFFF80", kDefault});
    Option18 = ui.option(Frame3, "Option18", "Tif(Hufmann)", {120, 1800, 1335, 255}, 20, {8.25, "#FFFF80", kDefault});
    Option17 = ui.option(Frame3, "Option17", "Tif (Packbits)", {120, 1440, 1335, 255}, 19, {8.25, "#FFFF80", kDefault});
    Option16 = ui.option(Frame3, "Option16", " Tif (Défaut)", {120, 720, 1335, 255}, 18, {8.25, "#FFFF80", kDefault});
    Option15 = ui.option(Frame3, "Option15", " Bmp", {120, 360, 1335, 255}, 17, {8.25, "#FFFF80", kDefault});
    Frame2 = ui.frame(Frame1, "Frame2", " Lecture", {120, 360, 1215, 5415}, 1, {9.75, "#8080FF", "#800000"});
    Option14 = ui.option(Frame2, "Option14", " Pcd", {120, 5040, 975, 255}, 16, {8.25, "#FFC080", kDefault});
    Option13 = ui.option(Frame2, "Option13", " Ras", {120, 4680, 975, 255}, 15, {8.25, "#FFFF80", kDefault});
    Option12 = ui.option(Frame2, "Option12", " Gem", {120, 4320, 975, 255}, 14, {8.25, "#FFFF80", kDefault});
    Option11 = ui.option(Frame2, "Option11", " Rle", {120, 3960, 975, 255}, 13, {8.25, "#FFFF80", kDefault});
    Option10 = ui.option(Frame2, "Option10", " Ppm", {120, 3600, 975, 255}, 12, {8.25, "#FFFF80", kDefault});
    Option9 = ui.option(Frame2, "Option9", " Pgm", {120, 3240, 975, 255}, 11, {8.25, "#FFFF80", kDefault});
    Option8 = ui.option(Frame2, "Option8", " Pbm", {120, 2880, 975, 255}, 10, {8.25, "#FFFF80", kDefault});
    Option7 = ui.option(Frame2, "Option7", " Tga", {120, 2520, 975, 255}, 9, {8.25, "#FFFF80", kDefault});
    Option6 = ui.option(Frame2, "Option6", " Pcx", {120, 2160, 975, 255}, 8, {8.25, "#FFFF80", kDefault});
    Option5 = ui.option(Frame2, "Option5", " Tif", {120, 1800, 975, 255}, 7, {8.25, "#FFFF80", kDefault});
    Option4 = ui.option(Frame2, "Option4", " Jif", {120, 1440, 975, 255}, 6, {8.25, "#FFFF80", kDefault});
    Option3 = ui.option(Frame2, "Option3", " Jpg", {120, 1080, 975, 255}, 5, {8.25, "#FFFF80", kDefault});
    Option2 = ui.option(Frame2, "Option2", " Dib", {120, 720, 975, 255}, 4, {8.25, "#FFFF80", kDefault});
    Option1 = ui.option(Frame2, "Option1", " Bmp", {120, 360, 975, 255}, 3, {8.25, "#FFFF80", kDefault});
    // clang-format on
    CommonDialog1 = new CommonDialog(this);
    ui.applyTabOrder();

    // Design values.
    Slider1->setRange(1, 255);
    Slider1->setValue(1);
    Slider2->setRange(10, 200);
    Slider2->setValue(10);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    // Option21 is alone in its frame. Alone, an option button would clear itself when clicked
    // again; in a group of its own it stays selected, like the selected button of any group.
    (new QButtonGroup(Frame5))->addButton(Option21);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Check1, &QCheckBox::stateChanged, this, &Form1::Check1_Click);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
    connect(Slider2, &QSlider::valueChanged, this, &Form1::Slider2_Change);

    // Loading the window starts the program's life, once, before the window is first shown.
    Form_Load();
}

Form1::~Form1()
{
    delete form2_;
    delete form3_;
    delete CommonDialog1;
}

void Form1::Form_Load()
{
    centreOnScreen(this);
    aig = 0;
    Check1->setCheckState(Qt::Unchecked);
    Check1->setText(QStringLiteral(" Contrôle ci-dessus inactif"));
    Slider1->setValue(256);  // held at the maximum, 255
    Text3->setText(colourCountText(Slider1->value()));
    Slider1->setEnabled(false);
    Slider2->setValue(100);
    Option1->setChecked(true);
    Option16->setChecked(true);
    Option20->setChecked(true);
    cible = intermediatePath();
    Frame7->hide();
    fmtbmp = 0;

    // From here on, any failure ends in the warning.
    if (createOutputFolder()) {
        logx = logPath();
        if (createLog(logx)) {
            ctr = 0;
            return;
        }
    }
    Text1->setText(kStartupWarning);
    aig = 1;
}

void Form1::Form_Unload()
{
    liberer();
    if (ctr > 0)
        return;  // the log lists failures: it stays
    deleteLog(logx);
}

void Form1::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void Form1::Command2_Click() { close(); }
void Form1::Command3_Click() { showModeless(form3_); }
void Form1::Command4_Click() { showModeless(form2_); }

QList<QWidget*> Form1::infoWindows() const { return {form2_.data(), form3_.data()}; }
