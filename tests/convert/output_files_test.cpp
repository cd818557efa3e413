// The plain functions under the run: output naming, the folder listing, and the output step's
// file work (same-file test, copy into place).
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include "convert/file_steps.h"
#include "convert/folder_listing.h"
#include "convert/naming.h"
#include "tests/support/window_testkit.h"

class OutputFilesTest : public QObject {
    Q_OBJECT

private slots:
    void outputPath_data();
    void outputPath();
    void listingMatchesAnyCaseInNameOrder();
    void copyReplacesLinkAndKeepsEarlierFileOnFailure();
    void moveReplacesLinkWithinAndAcrossFileSystems();
    void sameFileSeesThroughLinks();
};

void OutputFilesTest::outputPath_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected");  // "" = no output path

    const QString out = QStringLiteral("/tmp/Vamko") + QDir::separator();
    QTest::newRow("tiff code") << "/a/b.pcx"
                               << "tifn" << out + "b.tif";
    QTest::newRow("bitmap code") << "/images/photo.jpg"
                                 << "bmp" << out + "photo.bmp";
    QTest::newRow("dots in the name") << "/x/a.b.gif.bmp"
                                      << "bmp" << out + "a.b.gif.bmp";
    QTest::newRow("four-letter extension") << "/x/image.jpeg"
                                           << "bmp" << out + "image.jbmp";
    QTest::newRow("name of three characters") << "/xy/abc"
                                              << "tifd" << out + "tif";
    QTest::newRow("seven characters") << "/ab/c.d"
                                      << "tifh" << out + "tif";
    QTest::newRow("no separator") << "photo.jpg"
                                  << "bmp"
                                  << "";
    QTest::newRow("under seven characters") << "/a.bmp"
                                            << "bmp"
                                            << "";
    QTest::newRow("name under three characters") << "/xyz/ab"
                                                 << "tifp"
                                                 << "";
    QTest::newRow("no name") << "/folder/"
                             << "tifp"
                             << "";
}

void OutputFilesTest::outputPath()
{
    QFETCH(QString, input);
    QFETCH(QString, code);
    QFETCH(QString, expected);
    const auto path = outputPathFor(input, code, QStringLiteral("/tmp/Vamko"));
    QCOMPARE(path.value_or(QString()), expected);
}

void OutputFilesTest::listingMatchesAnyCaseInNameOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* name : {"Zeta.bmp", "a_b.bmp", "alpha.BMP", "aB.Bmp", "x.bmpx", "y.bm", "noext", ".hidden.bmp"})
        writeFile(dir.filePath(QString::fromUtf8(name)), "x");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));

    // As capitals "AB" < "ALPHA" < "A_B" ('_' comes after the letters) < "ZETA".
    const QStringList expected{"aB.Bmp", "alpha.BMP", "a_b.bmp", "Zeta.bmp"};
    QCOMPARE(matchingFiles(dir.path(), QStringLiteral("bmp")), expected);
    QCOMPARE(matchingFiles(dir.path(), QStringLiteral("pcd")), QStringList());
}

void OutputFilesTest::copyReplacesLinkAndKeepsEarlierFileOnFailure()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("Dib.bmp"));
    const QString target = dir.filePath(QStringLiteral("out.bmp"));
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    writeFile(source, "new image");
    writeFile(victim, "precious");

    QVERIFY(QFile::link(victim, target));
    QVERIFY(replaceWithCopy(source, target));
    QCOMPARE(readAll(victim), QByteArray("precious"));
    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readAll(target), QByteArray("new image"));

    writeFile(source, "newer image");
    QVERIFY(replaceWithCopy(source, target));
    QCOMPARE(readAll(target), QByteArray("newer image"));

    QVERIFY(!replaceWithCopy(dir.filePath(QStringLiteral("missing.bmp")), target));
    QCOMPARE(readAll(target), QByteArray("newer image"));

    const QString folderInTheWay = dir.filePath(QStringLiteral("folder.bmp"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));
    QVERIFY(!replaceWithCopy(source, folderInTheWay));
    // No half-made copy is left beside the target.
    const auto left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QCOMPARE(left, (QStringList{"Dib.bmp", "out.bmp", "victim.txt"}));
}

void OutputFilesTest::moveReplacesLinkWithinAndAcrossFileSystems()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("Dib.bmp"));
    const QString target = dir.filePath(QStringLiteral("out.bmp"));
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    writeFile(source, "new image");
    writeFile(victim, "precious");
    QVERIFY(QFile::link(victim, target));
    QVERIFY(moveIntoPlace(source, target));
    QVERIFY(!QFile::exists(source));
    QCOMPARE(readAll(target), QByteArray("new image"));
    QCOMPARE(readAll(victim), QByteArray("precious"));

    writeFile(source, "another");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));
    QVERIFY(!moveIntoPlace(source, dir.filePath(QStringLiteral("folder.bmp"))));

    // Another file system, where a rename cannot go: through a copy.
    QTemporaryDir shared(QStringLiteral("/dev/shm/tesselo-XXXXXX"));
    struct stat here {
    }, there{};
    if (!shared.isValid() || ::stat(QFile::encodeName(dir.path()), &here) != 0 ||
        ::stat(QFile::encodeName(shared.path()), &there) != 0 || here.st_dev == there.st_dev)
        QSKIP("no second file system at /dev/shm");
    const QString far = shared.filePath(QStringLiteral("far.bmp"));
    writeFile(far, "from afar");
    QVERIFY(moveIntoPlace(far, target));
    QVERIFY(!QFile::exists(far));
    QCOMPARE(readAll(target), QByteArray("from afar"));
    QVERIFY(!QFileInfo(target).isSymLink());
}

void OutputFilesTest::sameFileSeesThroughLinks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a.tif"));
    const QString b = dir.filePath(QStringLiteral("b.tif"));
    writeFile(a, "a");
    writeFile(b, "b");
    QVERIFY(QFile::link(a, dir.filePath(QStringLiteral("link.tif"))));

    QVERIFY(sameFile(a, a));
    QVERIFY(sameFile(a, dir.path() + QStringLiteral("/./a.tif")));
    QVERIFY(sameFile(a, dir.filePath(QStringLiteral("link.tif"))));
    QVERIFY(!sameFile(a, b));
    QVERIFY(!sameFile(a, dir.filePath(QStringLiteral("missing.tif"))));
}

QTEST_GUILESS_MAIN(OutputFilesTest)
#include "output_files_test.moc"
