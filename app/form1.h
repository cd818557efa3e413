// The main window. Its controls keep their design names (object names too), and its shared state
// keeps the names the rest of the program knows it by. The procedures are split by subsystem:
//   app/      construction, start-up (Form_Load), shutdown (Form_Unload), the three small buttons
//   options/  choixlecture, choixecriture, the colour and resize controls
//   convert/  the run (Command1_Click, convdossier) and the per-file pipeline
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class CommonDialog;
class Form2;
class Form3;

class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Controls, in the order the window defines them.
    QGroupBox* Frame7 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame6 = nullptr;
    QLineEdit* Text2 = nullptr;
    QSlider* Slider2 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QLineEdit* Text3 = nullptr;
    QCheckBox* Check1 = nullptr;
    QRadioButton* Option21 = nullptr;
    QSlider* Slider1 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QRadioButton* Option20 = nullptr;
    QRadioButton* Option19 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QRadioButton* Option22 = nullptr;
    QRadioButton* Option18 = nullptr;
    QRadioButton* Option17 = nullptr;
    QRadioButton* Option16 = nullptr;
    QRadioButton* Option15 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* Option14 = nullptr;
    QRadioButton* Option13 = nullptr;
    QRadioButton* Option12 = nullptr;
    QRadioButton* Option11 = nullptr;
    QRadioButton* Option10 = nullptr;
    QRadioButton* Option9 = nullptr;
    QRadioButton* Option8 = nullptr;
    QRadioButton* Option7 = nullptr;
    QRadioButton* Option6 = nullptr;
    QRadioButton* Option5 = nullptr;
    QRadioButton* Option4 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option1 = nullptr;
    CommonDialog* CommonDialog1 = nullptr;

    // Window-level state shared by the procedures.
    qint16 aig = 0;    // 1: start-up could not create the output folder or its log
    QString filtre;    // input extension, three lower-case letters
    QString filtrs;    // write format code: bmp, tifd, tifp, tifh or tifn
    QString cible;     // path of the intermediate bitmap
    QString nomfi;     // path of the file being converted
    qint16 aigan = 0;  // 1: a step of the current file failed
    QString nomsor;    // output path
    qint16 tif = 0;    // TIFF write format number
    float ctr = 0;     // failed files since the log was last made, logged or not; above 0 the log stays
    QString logx;      // path of the failure log

    qint32 dib = 0;     // handle of the current image, 0 = none
    qint32 nbcoul = 0;  // colour count given to ReduceDIB
    qint16 redopt = 0;  // option given to ReduceDIB
    qint32 zoom1 = 0;   // percentages given to ZoomDIB
    qint32 zoom2 = 0;
    qint16 fmtbmp = 0;  // write format number of the intermediate bitmap

    // app/
    void Form_Load();
    void Form_Unload();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    // options/
    void choixlecture();
    void choixecriture();
    void Check1_Click();
    void Slider1_Change();
    void Slider2_Change();

    // convert/
    void Command1_Click();
    void convdossier();
    void convertir();
    void liberer();
    void lireimage();
    void transformer();
    void sortie();
    void reduire255();
    void reduire2();
    void ecrireimage();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QList<QWidget*> infoWindows() const;  // About and Help, null where not open

    QPointer<Form2> form2_;
    QPointer<Form3> form3_;
    qsizetype unlogged_ = 0;  // failures of the current folder run that the log could not take
};
