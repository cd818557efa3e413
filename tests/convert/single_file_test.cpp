// "Ouvrir" in single-file mode, end to end on the real window: each output kind read back, the
// colour change and resize, failures and their log lines, the start-up warning, and the mends
// that keep short paths, the input, links and failed copies from going wrong quietly.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <unistd.h>

#include "tests/support/run_testkit.h"

using namespace runkit;

namespace {

const QString kReadFailed = QStringLiteral("Anomalie. Conversion avortée");
const QString kOutputFailed = QStringLiteral(" Anomalie. Conversion avortée.");

QString succeeded(const QString& path)
{
    return QStringLiteral(" Conversion de ") + path + QStringLiteral(" achevée.");
}

void singleFileMode(Form1& form) { form.Option19->setChecked(true); }

}  // namespace

class SingleFileTest : public QObject {
    Q_OBJECT

private slots:
    void eachOutputKind_data();
    void eachOutputKind();
    void colourCountIsTheCountShown();
    void greyLevels();
    void resize_data();
    void resize();
    void settingsAtTheirEdges_data();
    void settingsAtTheirEdges();
    void unreadableFileIsLogged();
    void cancelAndShortPathsEndQuietly();
    void dialogFilterFollowsInputFormat();
    void startupWarningTakesOnePress();
    void outputFolderDeletedWhileRunning();
    void shortFileNameFails();
    void inputIsNeverOverwritten();
    void failedWriteOrCopyIsAnAnomaly();
    void linksAreReplacedNotFollowed();
    void unusableOutputFolderFailsEachFile();
    void lineBreakInPathTakesOneLogLine();
};

void SingleFileTest::eachOutputKind_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("compression");  // 0: a bitmap
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("maxColours");

    QTest::newRow("bmp") << "Option15"
                         << "bmp" << 0 << 24 << 64 * 48;
    QTest::newRow("tif default (LZW)") << "Option16"
                                       << "tif" << COMPRESSION_LZW << 8 << 255;
    QTest::newRow("tif packbits") << "Option17"
                                  << "tif" << COMPRESSION_PACKBITS << 8 << 255;
    QTest::newRow("tif uncompressed") << "Option22"
                                      << "tif" << COMPRESSION_NONE << 8 << 255;
    QTest::newRow("tif huffman") << "Option18"
                                 << "tif" << COMPRESSION_CCITTRLE << 1 << 2;
}

void SingleFileTest::eachOutputKind()
{
    QFETCH(QString, option);
    QFETCH(QString, extension);
    QFETCH(int, compression);
    QFETCH(int, bits);
    QFETCH(int, maxColours);

    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.findChild<QRadioButton*>(option)->setChecked(true);
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());

    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), succeeded(input));
    QCOMPARE(form.aigan, qint16(0));
    const QString output = world.out(QStringLiteral("photo.") + extension);
    QCOMPARE(form.nomsor, output);
    QCOMPARE(filesIn(world.output), (QStringList{"Log.txt", "photo." + extension}));
    QVERIFY2(!QFile::exists(world.intermediate), "the intermediate bitmap is deleted");

    const Facts facts = compression == 0 ? readBmp(output) : readTiff(output);
    QVERIFY2(facts.read, qPrintable(output));
    QCOMPARE(facts.width, 64);
    QCOMPARE(facts.height, 48);
    QCOMPARE(facts.compression, compression);
    QCOMPARE(facts.bitsPerPixel, bits);
    if (compression != 0 && compression != COMPRESSION_CCITTRLE)
        QCOMPARE(facts.photometric, PHOTOMETRIC_PALETTE);
    QVERIFY2(facts.colours <= maxColours && facts.colours >= std::min(maxColours, 200),
             qPrintable(QString::number(facts.colours)));
    if (compression == 0)
        QCOMPARE(facts.colours, readBmp(input).colours);  // a bitmap keeps the image as read
}

void SingleFileTest::colourCountIsTheCountShown()
{
    // The slider at 3 shows 4 colours: a four-colour image keeps all four (not the 2 of p − 1).
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.Option15->setChecked(true);
    form.Check1->setChecked(true);
    form.Slider1->setValue(3);
    QCOMPARE(form.Text3->text(), QStringLiteral("  4"));
    const QString four = world.input(QStringLiteral("four.bmp"));
    writeFile(four, fourColourBmp());
    pressOuvrir(form, four);
    QCOMPARE(form.nbcoul, 4);
    Facts facts = readBmp(world.out(QStringLiteral("four.bmp")));
    QCOMPARE(facts.colours, 4);
    QCOMPARE(facts.bitsPerPixel, 4);
    QCOMPARE(facts.palette, readBmp(four).palette);

    // A rich picture at 16 colours shown gets at most 16, and then the TIFF's own 255 keeps them.
    form.Option16->setChecked(true);
    form.Slider1->setValue(15);
    const QString rich = world.input(QStringLiteral("rich.bmp"));
    writeFile(rich, richBmp());
    pressOuvrir(form, rich);
    QCOMPARE(form.Text1->text(), succeeded(rich));
    facts = readTiff(world.out(QStringLiteral("rich.tif")));
    QVERIFY2(facts.colours > 8 && facts.colours <= 16, qPrintable(QString::number(facts.colours)));
    QCOMPARE(form.nbcoul, 255);  // the TIFF reduction came last
}

void SingleFileTest::greyLevels()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.Option15->setChecked(true);
    form.Option21->setChecked(true);
    const QString input = world.input(QStringLiteral("bands.bmp"));
    writeFile(input, fourColourBmp());
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), succeeded(input));
    const Facts facts = readBmp(world.out(QStringLiteral("bands.bmp")));
    QVERIFY(facts.grey);
    QCOMPARE(facts.bitsPerPixel, 8);
    QCOMPARE(facts.colours, 4);
    QVERIFY(facts.palette.contains(qRgb(76, 76, 76) & 0xFFFFFFu));  // pure red: 0.299 × 255
}

void SingleFileTest::resize_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("50 % bitmap") << 50 << "Option15" << 32 << 24;
    QTest::newRow("200 % tif") << 200 << "Option16" << 128 << 96;
    QTest::newRow("10 % tif huffman") << 10 << "Option18" << 6 << 5;
    QTest::newRow("100 % untouched") << 100 << "Option15" << 64 << 48;
}

void SingleFileTest::resize()
{
    QFETCH(int, percent);
    QFETCH(QString, option);
    QFETCH(int, width);
    QFETCH(int, height);
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.findChild<QRadioButton*>(option)->setChecked(true);
    form.Slider2->setValue(percent);
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), succeeded(input));
    const Facts facts = option == "Option15" ? readBmp(form.nomsor) : readTiff(form.nomsor);
    QCOMPARE(facts.width, width);
    QCOMPARE(facts.height, height);
}

void SingleFileTest::settingsAtTheirEdges_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("output");       // the output format's option
    QTest::addColumn<int>("colours");          // 0: the colour control left inactive, -1: grey levels
    QTest::addColumn<QList<int>>("percents");  // the resize slider's moves, in order
    QTest::addColumn<bool>("fails");           // with "Anomalie. Conversion avortée", nothing written
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("minColours");
    QTest::addColumn<int>("maxColours");

    // 256 grey levels: made grey, then cut to 255 colours, then written as LZW.
    const QByteArray ramp = bmp24(64, 48, [](int x, int y) {
        const int level = (x + 64 * y) % 256;
        return qRgb(level, level, level);
    });
    QTest::newRow("tifd, grey levels at 100 %")
        << ramp << "Option16" << -1 << QList<int>{100} << false << QSize(64, 48) << true << 2 << 255;
    // Two colours, then enlarged by 1.5: the resampling blends them at the band edges.
    QTest::newRow("the resize after the colour change")
        << fourColourBmp() << "Option15" << 2 << QList<int>{150} << false << QSize(60, 30) << false << 3 << 40 * 20;
    QTest::newRow("resize slider away and back to 100") << richBmp() << "Option15" << 0 << QList<int>{150, 100} << false
                                                        << QSize(64, 48) << false << 64 * 48 << 64 * 48;
    // 80,000 pixels wide is past what the library takes.
    QTest::newRow("40000 × 1 at 200 %") << bmp24(40000, 1, [](int x, int) { return qRgb(x % 256, 0, 0); }) << "Option15"
                                        << 0 << QList<int>{200} << true << QSize() << false << 0 << 0;
}

void SingleFileTest::settingsAtTheirEdges()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, output);
    QFETCH(int, colours);
    QFETCH(QList<int>, percents);
    QFETCH(bool, fails);
    QFETCH(QSize, size);
    QFETCH(bool, grey);
    QFETCH(int, minColours);
    QFETCH(int, maxColours);

    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.findChild<QRadioButton*>(output)->setChecked(true);
    if (colours == -1)
        form.Option21->setChecked(true);
    if (colours > 0) {
        form.Check1->setChecked(true);
        form.Slider1->setValue(colours - 1);
    }
    for (const int percent : percents)
        form.Slider2->setValue(percent);
    const QString path = world.input(QStringLiteral("picture.bmp"));
    writeFile(path, input);
    pressOuvrir(form, path);

    if (fails) {
        QCOMPARE(form.Text1->text(), kReadFailed);
        QCOMPARE(logLines(world.log), (QStringList{kLogHeader, path}));
        QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});
        return;
    }
    QCOMPARE(form.Text1->text(), succeeded(path));
    const bool tiff = form.filtrs != QLatin1String("bmp");
    const Facts facts = tiff ? readTiff(form.nomsor) : readBmp(form.nomsor);
    QVERIFY2(facts.read, qPrintable(form.nomsor));
    QCOMPARE(QSize(facts.width, facts.height), size);
    QCOMPARE(facts.grey, grey);
    QVERIFY2(facts.colours >= minColours && facts.colours <= maxColours, qPrintable(QString::number(facts.colours)));
    if (tiff)
        QCOMPARE(facts.compression, int(COMPRESSION_LZW));
}

void SingleFileTest::unreadableFileIsLogged()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    const QString broken = world.input(QStringLiteral("broken.bmp"));
    writeFile(broken, kNotAnImage);
    pressOuvrir(form, broken);
    QCOMPARE(form.Text1->text(), kReadFailed);
    QCOMPARE(form.aigan, qint16(1));
    QCOMPARE(form.dib, 0);
    QCOMPARE(form.ctr, 1.0f);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, broken}));
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});

    // A failure after a success: the message is the failing step's, the log grows by one line.
    const QString good = world.input(QStringLiteral("good.bmp"));
    writeFile(good, richBmp());
    pressOuvrir(form, good);
    QCOMPARE(form.Text1->text(), succeeded(good));
    QCOMPARE(form.aigan, qint16(0));
    pressOuvrir(form, broken);
    QCOMPARE(form.Text1->text(), kReadFailed);
    QCOMPARE(form.ctr, 2.0f);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, broken, broken}));
}

void SingleFileTest::cancelAndShortPathsEndQuietly()
{
    World world;
    Form1& form = world.start();
    form.Text1->setText(QStringLiteral("earlier message"));
    for (const bool folderMode : {false, true}) {
        (folderMode ? form.Option20 : form.Option19)->setChecked(true);
        QVERIFY(pressOuvrir(form, QString()));
        QCOMPARE(form.Text1->text(), QString());
        QVERIFY(form.Frame7->isHidden());
        QCOMPARE(form.nomfi, QString());
    }
    // In single-file mode a chosen path under 7 characters ends the press before any work.
    form.Option19->setChecked(true);
    pressOuvrir(form, QStringLiteral("/a.bmp"));
    QCOMPARE(form.Text1->text(), QString());
    QCOMPARE(form.ctr, 0.0f);
    QCOMPARE(logLines(world.log), QStringList{kLogHeader});
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});
}

void SingleFileTest::dialogFilterFollowsInputFormat()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    QCOMPARE(pressOuvrir(form, QString()).value_or("no dialog"), QStringLiteral("BMP (*.bmp)"));
    QCOMPARE(form.CommonDialog1->Filter, QStringLiteral("BMP |*.bmp"));
    form.Option14->setChecked(true);
    QCOMPARE(pressOuvrir(form, QString()).value_or("no dialog"), QStringLiteral("PCD (*.pcd)"));
    QCOMPARE(form.filtre, QStringLiteral("pcd"));

    // The filter only narrows the list: a file of another extension is still converted.
    const QString other = world.input(QStringLiteral("picture.dat"));
    writeFile(other, richBmp());
    pressOuvrir(form, other);
    QCOMPARE(form.Text1->text(), succeeded(other));
    QVERIFY(QFile::exists(world.out(QStringLiteral("picture.tif"))));
}

void SingleFileTest::startupWarningTakesOnePress()
{
    World world;
    QVERIFY(QDir().mkdir(world.output));
    writeFile(world.log, "an earlier log\r\n");
    Form1& form = world.start();
    singleFileMode(form);
    QCOMPARE(form.aig, qint16(1));
    QVERIFY(form.Text1->text().startsWith(QStringLiteral(" Impossible de créer")));

    QVERIFY2(!pressOuvrir(form, world.input(QStringLiteral("x.bmp"))), "the first press opens no dialog");
    QCOMPARE(form.Text1->text(), QString());
    QCOMPARE(form.aig, qint16(0));

    // The second press converts into the folder that was already there; the earlier log is kept.
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());
    QVERIFY(pressOuvrir(form, input));
    QCOMPARE(form.Text1->text(), succeeded(input));
    QVERIFY(QFile::exists(world.out(QStringLiteral("photo.tif"))));

    // With no log of its own (logx empty) a failure is counted and nothing breaks.
    const QString broken = world.input(QStringLiteral("broken.bmp"));
    writeFile(broken, kNotAnImage);
    pressOuvrir(form, broken);
    QCOMPARE(form.Text1->text(), kReadFailed);
    QCOMPARE(form.logx, QString());
    QCOMPARE(form.ctr, 1.0f);
    QCOMPARE(readAll(world.log), QByteArray("an earlier log\r\n"));
}

void SingleFileTest::outputFolderDeletedWhileRunning()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    const QString broken = world.input(QStringLiteral("broken.bmp"));
    writeFile(broken, kNotAnImage);
    pressOuvrir(form, broken);
    QCOMPARE(form.ctr, 1.0f);

    QVERIFY(QDir(world.output).removeRecursively());
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), succeeded(input));
    QCOMPARE(form.ctr, 0.0f);
    QCOMPARE(form.logx, world.log);
    QCOMPARE(logLines(world.log), QStringList{kLogHeader});
    QVERIFY(QFile::exists(world.out(QStringLiteral("photo.tif"))));

    // A read failure never reaches the output step, so it cannot bring the folder back.
    QVERIFY(QDir(world.output).removeRecursively());
    pressOuvrir(form, broken);
    QCOMPARE(form.Text1->text(), kReadFailed);
    QCOMPARE(form.ctr, 1.0f);
    QVERIFY(!QFile::exists(world.output));
}

void SingleFileTest::shortFileNameFails()
{
    // A name of two characters leaves nothing to cut for the extension: a failure, not silence.
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    const QString input = world.input(QStringLiteral("ab"));
    writeFile(input, richBmp());
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(form.ctr, 1.0f);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, input}));
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});
}

void SingleFileTest::inputIsNeverOverwritten()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.Option15->setChecked(true);
    const QByteArray original = richBmp();

    // Converting a bitmap that sits in the output folder to a bitmap would write over it.
    const QString inside = world.out(QStringLiteral("photo.bmp"));
    writeFile(inside, original);
    pressOuvrir(form, inside);
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(readAll(inside), original);

    // So would a bitmap named like the intermediate file, which is written and then deleted.
    writeFile(world.intermediate, original);
    pressOuvrir(form, world.intermediate);
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(readAll(world.intermediate), original);
    QCOMPARE(form.ctr, 2.0f);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, inside, world.intermediate}));

    // Reached through a linked folder, the path differs but the file is the same.
    form.Option16->setChecked(true);
    const QString alias = world.temp.path(QStringLiteral("alias"));
    QVERIFY(QFile::link(world.output, alias));
    const QString tiff = world.out(QStringLiteral("picture.tif"));
    writeFile(tiff, original);  // any content the reader takes
    form.Option5->setChecked(true);
    pressOuvrir(form, alias + QStringLiteral("/picture.tif"));
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(readAll(tiff), original);
}

void SingleFileTest::failedWriteOrCopyIsAnAnomaly()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    form.Option15->setChecked(true);
    QVERIFY(QDir(world.output).mkdir(QStringLiteral("photo.bmp")));  // in the copy's way
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(form.ctr, 1.0f);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, input}));
    QVERIFY(!QFile::exists(world.intermediate));
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});

    // The same for a TIFF the library cannot put in place.
    form.Option16->setChecked(true);
    QVERIFY(QDir(world.output).mkdir(QStringLiteral("photo.tif")));
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(form.ctr, 2.0f);
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});
}

void SingleFileTest::linksAreReplacedNotFollowed()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    const QString victim = world.temp.path(QStringLiteral("victim.txt"));
    writeFile(victim, "precious");
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());

    // A link in place of the output.
    QVERIFY(QFile::link(victim, world.out(QStringLiteral("photo.tif"))));
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), succeeded(input));
    QCOMPARE(readAll(victim), QByteArray("precious"));
    QVERIFY(!QFileInfo(world.out(QStringLiteral("photo.tif"))).isSymLink());
    QVERIFY(readTiff(world.out(QStringLiteral("photo.tif"))).read);

    // Links in place of the intermediate bitmap and of the bitmap output.
    form.Option15->setChecked(true);
    QVERIFY(QFile::link(victim, world.intermediate));
    QVERIFY(QFile::link(victim, world.out(QStringLiteral("photo.bmp"))));
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), succeeded(input));
    QCOMPARE(readAll(victim), QByteArray("precious"));
    QVERIFY(!QFileInfo(world.out(QStringLiteral("photo.bmp"))).isSymLink());
    QVERIFY(readBmp(world.out(QStringLiteral("photo.bmp"))).read);

    // A link in place of the log: the failure is counted, the link's target untouched.
    QVERIFY(QFile::remove(world.log));
    QVERIFY(QFile::link(victim, world.log));
    const QString broken = world.input(QStringLiteral("broken.bmp"));
    writeFile(broken, kNotAnImage);
    pressOuvrir(form, broken);
    QCOMPARE(form.Text1->text(), kReadFailed);
    QCOMPARE(form.ctr, 1.0f);
    QCOMPARE(readAll(victim), QByteArray("precious"));
}

void SingleFileTest::unusableOutputFolderFailsEachFile()
{
    // The output folder swapped for a link to another folder while the program runs: nothing is
    // written through it, and each file fails.
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    const QString elsewhere = world.temp.path(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkdir(elsewhere));
    QVERIFY(QDir(world.output).removeRecursively());
    QVERIFY(QFile::link(elsewhere, world.output));
    const QString input = world.input(QStringLiteral("photo.bmp"));
    writeFile(input, richBmp());
    for (const char* option : {"Option15", "Option16"}) {
        form.findChild<QRadioButton*>(QString::fromLatin1(option))->setChecked(true);
        pressOuvrir(form, input);
        QCOMPARE(form.Text1->text(), kOutputFailed);
        QCOMPARE(filesIn(elsewhere), QStringList());
    }
    QCOMPARE(form.ctr, 2.0f);

    // A real folder under that name that belongs to another user (only root can make one).
    if (::geteuid() != 0)
        return;
    QVERIFY(QFile::remove(world.output));
    QVERIFY(QDir().mkdir(world.output));
    QCOMPARE(::chown(QFile::encodeName(world.output).constData(), 65534, 65534), 0);
    pressOuvrir(form, input);
    QCOMPARE(form.Text1->text(), kOutputFailed);
    QCOMPARE(filesIn(world.output), QStringList());
    QCOMPARE(form.ctr, 3.0f);
}

void SingleFileTest::lineBreakInPathTakesOneLogLine()
{
    World world;
    Form1& form = world.start();
    singleFileMode(form);
    const QString broken = world.input(QStringLiteral("two\nlines.bmp"));
    writeFile(broken, kNotAnImage);
    pressOuvrir(form, broken);
    QCOMPARE(form.Text1->text(), kReadFailed);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, world.input(QStringLiteral("two\\nlines.bmp"))}));
}

QTEST_MAIN(SingleFileTest)
#include "single_file_test.moc"
