// Every caption and text the windows show as designed, quoted in full: one row each, so a typo
// anywhere fails its own row.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "app/form1.h"
#include "info/form2.h"
#include "info/form3.h"
#include "tests/support/window_testkit.h"

namespace {

// Line `number` (from 1) of what a window drew at its first activation; "" for an empty line.
QString drawnLine(const DrawnText& text, int number)
{
    for (const auto& line : text.lines())
        if (line.top == (number - 1) * text.lineHeight())
            return line.text;
    return QString();
}

QString shownText(const QWidget* widget)
{
    if (widget->isWindow())
        return widget->windowTitle();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* frame = qobject_cast<const QGroupBox*>(widget))
        return frame->title();
    if (const auto* box = qobject_cast<const QLineEdit*>(widget))
        return box->text();
    return QStringLiteral("(no text)");
}

}  // namespace

class TextsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void text_data();
    void text();
    void ownLinesHaveTheirShape();

private:
    QString textAt(const QString& where) const;

    std::unique_ptr<ScratchTemp> temp_;
    std::unique_ptr<Form1> form_;
    Form2* about_ = nullptr;
    Form3* help_ = nullptr;
};

void TextsTest::initTestCase()
{
    temp_ = std::make_unique<ScratchTemp>();
    form_ = std::make_unique<Form1>();
    form_->show();
    form_->Command4->click();
    QTRY_VERIFY((about_ = openWindow<Form2>()) && !about_->drawnText().lines().empty());
    form_->Command3->click();
    QTRY_VERIFY((help_ = openWindow<Form3>()) && !help_->drawnText().lines().empty());
}

void TextsTest::cleanupTestCase()
{
    form_.reset();
    temp_.reset();
}

QString TextsTest::textAt(const QString& where) const
{
    const QString window = where.section(QLatin1Char('.'), 0, 0);
    const QString part = where.section(QLatin1Char('.'), 1);
    const QWidget* top = window == QLatin1String("Form1")   ? static_cast<QWidget*>(form_.get())
                         : window == QLatin1String("Form2") ? static_cast<QWidget*>(about_)
                                                            : static_cast<QWidget*>(help_);
    if (part.isEmpty())
        return shownText(top);
    if (part.startsWith(QLatin1String("line"))) {
        const auto& drawn = window == QLatin1String("Form2") ? about_->drawnText() : help_->drawnText();
        return drawnLine(drawn, part.mid(4).toInt());
    }
    const auto* control = top->findChild<QWidget*>(part);
    return control ? shownText(control) : QStringLiteral("(missing)");
}

void TextsTest::text_data()
{
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* where, const QString& expected) { QTest::newRow(where) << expected; };

    row("Form1", " Orlanto - ImgLib - (Le résultat est écrit en " + temp_->path("Vamko") + ")");
    row("Form1.Frame7", "");
    row("Form1.Command4", "A propos");
    row("Form1.Command3", "Aide");
    row("Form1.Command2", "Quitter");
    row("Form1.Command1", "Ouvrir");
    row("Form1.Text1", "");
    row("Form1.Frame1", " Options");
    row("Form1.Frame6", " Redimensionnement (10 à 200 %)");
    row("Form1.Text2", "100  %");  // the start-up has moved Slider2
    row("Form1.Frame5", " Couleurs (De 2 à 256)");
    row("Form1.Text3", "256");
    row("Form1.Check1", " Contrôle ci-dessus inactif");
    row("Form1.Option21", " Niveaux de gris");
    row("Form1.Frame4", " Type de conversion");
    row("Form1.Option20", " Multiconversion");
    row("Form1.Option19", " Monoconversion");
    row("Form1.Frame3", " Ecriture");
    row("Form1.Option22", " Tif (non c.)");
    row("Form1.Option18", "Tif(Hufmann)");
    row("Form1.Option17", "Tif (Packbits)");
    row("Form1.Option16", " Tif (Défaut)");
    row("Form1.Option15", " Bmp");
    row("Form1.Frame2", " Lecture");
    row("Form1.Option14", " Pcd");
    row("Form1.Option13", " Ras");
    row("Form1.Option12", " Gem");
    row("Form1.Option11", " Rle");
    row("Form1.Option10", " Ppm");
    row("Form1.Option9", " Pgm");
    row("Form1.Option8", " Pbm");
    row("Form1.Option7", " Tga");
    row("Form1.Option6", " Pcx");
    row("Form1.Option5", " Tif");
    row("Form1.Option4", " Jif");
    row("Form1.Option3", " Jpg");
    row("Form1.Option2", " Dib");
    row("Form1.Option1", " Bmp");

    row("Form2", " A propos");
    row("Form2.Command1", "O K");
    for (const char* empty : {"Form2.line1", "Form2.line3", "Form2.line5"})
        row(empty, "");

    row("Form3", " Aide");
    row("Form3.Command1", "OK");
    const char* help[] = {
        "",
        nullptr,  // our own words: ownLinesHaveTheirShape
        "",
        "   Il permet de lire des fichiers bmp, dib, jpg, jif, tif, pcx, tga, pbm, pgm, ppm,rle,",
        "   gem, ras, pcd et de les convertir en fichiers bmp ou tif. Des options autorisent",
        "   la conversion en quatre types de fichiers tif. Le dernier type de fichiers tif est",
        "   en noir et blanc.",
        "",
        "   On peut convertir un seul fichier à la fois (option monoconversion) ou tous les",
        "   fichiers du dossier au cours d'un seul passage (option multiconversion).",
        "",
        "   On peut aussi modifier le nombre de couleurs de l'image. Pour ce faire, il est",
        "   d'abord nécessaire de rendre le contrôle opérant en cochant la case. Si cette",
        "   case n'est pas cochée, le fichier est réécrit avec les couleurs d'origine lorsque",
        "   l'extension de sortie le permet. Dans le cas contraire, le nombre de couleurs",
        "   est automatiquement rendu compatible avec l'extension d'écriture. La",
        "   modification du nombre de couleurs (contrôle actif) s'effectue soit en cochant",
        "   l'option niveau de gris soit en déplaçant le curseur sur l'échelle 2 à 256.",
        "",
        "   Enfin, on peut redimensionner l'image en déplaçant le curseur prévu à cet",
        "   effet. L'image en écriture est redimensionnée en conservant le rapport",
        "   hauteur/largeur d'origine.",
        "",
        "   Le dossier résultant est écrit dans le dossier temporaire de Windows. Pour",
        "   éviter la destruction intempestive de fichiers convertis, un message d'erreur",
        "   s'inscrit au départ dans la fenêtre des messages en bas de la fenêtre globale",
        "   du programme chaque fois que ce risque existe. Il faut alors soit déplacer le",
        "   dossier correspondant, soit le renommer et redémarrer le programme. Le",
        "   dossier résultant contient un fichier Log.txt dans lequel figurent, s'il y a",
        "   lieu, les noms des fichiers ayant causé des anomalies lors de la conversion.",
    };
    for (int number = 1; number <= 30; ++number)
        if (help[number - 1])
            row(qPrintable(QStringLiteral("Form3.line%1").arg(number)), QString::fromUtf8(help[number - 1]));
}

void TextsTest::text()
{
    QFETCH(QString, expected);
    QCOMPARE(textAt(QString::fromLatin1(QTest::currentDataTag())), expected);
}

void TextsTest::ownLinesHaveTheirShape()
{
    // About: six, twelve and nine spaces before the copyright line, the e-mail and web addresses.
    const auto indentedBy = [](const QString& line, int spaces) {
        return line.left(spaces) == QString(spaces, QLatin1Char(' ')) && line.size() > spaces &&
               line.at(spaces) != QLatin1Char(' ');
    };
    const QString copyright = drawnLine(about_->drawnText(), 2);
    const QString mail = drawnLine(about_->drawnText(), 4);
    const QString web = drawnLine(about_->drawnText(), 6);
    QVERIFY2(indentedBy(copyright, 6) && copyright.contains(QChar(0xA9)), qPrintable(copyright));
    QVERIFY2(indentedBy(mail, 12) && mail.contains(QLatin1Char('@')), qPrintable(mail));
    QVERIFY2(indentedBy(web, 9) && web.contains(QLatin1Char('.')), qPrintable(web));

    // Help, line 2: one sentence of our own naming the image library.
    const QString opening = drawnLine(help_->drawnText(), 2);
    QVERIFY2(indentedBy(opening, 3) && opening.contains(QLatin1String("ImgLib")), qPrintable(opening));
}

QTEST_MAIN(TextsTest)
#include "texts_test.moc"
