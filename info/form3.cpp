#include "info/form3.h"

#include <QPushButton>

#include "widgets/centre.h"
#include "widgets/controls.h"
#include "widgets/icons.h"

namespace {

const QString kLines[] = {
    QString(),
    QStringLiteral("   Ce programme utilise la bibliothèque d'images ImgLib pour lire et écrire les images."),
    QString(),
    QStringLiteral("   Il permet de lire des fichiers bmp, dib, jpg, jif, tif, pcx, tga, pbm, pgm, ppm,rle,"),
    QStringLiteral("   gem, ras, pcd et de les convertir en fichiers bmp ou tif. Des options autorisent"),
    QStringLiteral("   la conversion en quatre types de fichiers tif. Le dernier type de fichiers tif est"),
    QStringLiteral("   en noir et blanc."),
    QString(),
    QStringLiteral("   On peut convertir un seul fichier à la fois (option monoconversion) ou tous les"),
    QStringLiteral("   fichiers du dossier au cours d'un seul passage (option multiconversion)."),
    QString(),
    QStringLiteral("   On peut aussi modifier le nombre de couleurs de l'image. Pour ce faire, il est"),
    QStringLiteral("   d'abord nécessaire de rendre le contrôle opérant en cochant la case. Si cette"),
    QStringLiteral("   case n'est pas cochée, le fichier est réécrit avec les couleurs d'origine lorsque"),
    QStringLiteral("   l'extension de sortie le permet. Dans le cas contraire, le nombre de couleurs"),
    QStringLiteral("   est automatiquement rendu compatible avec l'extension d'écriture. La"),
    QStringLiteral("   modification du nombre de couleurs (contrôle actif) s'effectue soit en cochant"),
    QStringLiteral("   l'option niveau de gris soit en déplaçant le curseur sur l'échelle 2 à 256."),
    QString(),
    QStringLiteral("   Enfin, on peut redimensionner l'image en déplaçant le curseur prévu à cet"),
    QStringLiteral("   effet. L'image en écriture est redimensionnée en conservant le rapport"),
    QStringLiteral("   hauteur/largeur d'origine."),
    QString(),
    QStringLiteral("   Le dossier résultant est écrit dans le dossier temporaire de Windows. Pour"),
    QStringLiteral("   éviter la destruction intempestive de fichiers convertis, un message d'erreur"),
    QStringLiteral("   s'inscrit au départ dans la fenêtre des messages en bas de la fenêtre globale"),
    QStringLiteral("   du programme chaque fois que ce risque existe. Il faut alors soit déplacer le"),
    QStringLiteral("   dossier correspondant, soit le renommer et redémarrer le programme. Le"),
    QStringLiteral("   dossier résultant contient un fichier Log.txt dans lequel figurent, s'il y a"),
    QStringLiteral("   lieu, les noms des fichiers ayant causé des anomalies lors de la conversion."),
};

}  // namespace

Form3::Form3(QWidget* parent) : TextWindow(parent)
{
    setWindowTitle(QStringLiteral(" Aide"));
    setWindowIcon(helpIcon());
    setFixedSize(pixels(6120), pixels(6645));
    setFont(designFont(8.25));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);
    setAutoFillBackground(true);

    ControlBuilder ui;
    Command1 = ui.button(this, "Command1", "OK", {2400, 6120, 1455, 495}, 0, {13.5, kDefault, kDefault});
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);

    Form_Load();
}

void Form3::Form_Load() { centreOnScreen(this); }

void Form3::Form_Activate()
{
    for (const QString& line : kLines)
        text_.print(line);
}
