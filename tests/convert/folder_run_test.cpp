// "Ouvrir" in folder mode, end to end on the real window: which files are converted and in what
// order, the progress bar, the log and the final message, and how the window behaves while a
// run is under way (it paints, takes no input, and closes only once the run is over).
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <QWindow>

#include "info/form2.h"
#include "info/form3.h"
#include "tests/support/run_testkit.h"

using namespace runkit;

// The queue through which the platform hands Qt real input and close requests. QtGui exports
// its entry points but keeps the header private, so the two used here are declared by hand.
class QWindowSystemInterface {
public:
    struct AsynchronousDelivery;
    template <typename Delivery>
    static bool handleKeyEvent(QWindow* window, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers,
                               const QString& text, bool autorepeat, ushort count);
    template <typename Delivery>
    static bool handleCloseEvent(QWindow* window);
    template <typename Delivery>
    static void handleWindowActivated(QWindow* window, Qt::FocusReason reason);
};

namespace {

const QString kDone = QStringLiteral(" Conversion des fichiers terminée");

// What a widget showed each time it was painted.
class PaintLog : public QObject {
public:
    PaintLog(QProgressBar* bar, QLineEdit* line) : bar_(bar), line_(line)
    {
        bar->installEventFilter(this);
        line->installEventFilter(this);
    }
    QList<int> values;     // the bar's value at each of its paints, repeats dropped
    QStringList messages;  // the message line's text at each of its paints, repeats dropped

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            if (watched == bar_ && (values.isEmpty() || values.last() != bar_->value()))
                values << bar_->value();
            if (watched == line_ && (messages.isEmpty() || messages.last() != line_->text()))
                messages << line_->text();
        }
        return false;
    }

private:
    QProgressBar* bar_;
    QLineEdit* line_;
};

void folderMode(Form1& form) { form.Option20->setChecked(true); }

}  // namespace

class FolderRunTest : public QObject {
    Q_OBJECT

private slots:
    void fourFilesSecondBroken();
    void zeroAndOneMatchingFiles();
    void matchesAnyLetterCaseInNameOrder();
    void runsOfSeveralFolders_data();
    void runsOfSeveralFolders();
    void unloggedFailuresAreSaid();
    void runInsideTheOutputFolderOverwritesNothing();
    void closeRequestWaitsForTheRun();
    void inputWaitsForTheRun();
    void aboutAndHelpWaitForTheRun();
};

void FolderRunTest::fourFilesSecondBroken()
{
    World world;
    Form1& form = world.start();
    folderMode(form);
    QStringList inputs;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"})
        inputs << world.input(QString::fromLatin1(name));
    for (const QString& input : inputs)
        writeFile(input, input.endsWith(QStringLiteral("b.bmp")) ? kNotAnImage : richBmp());
    writeFile(world.input(QStringLiteral("e.pcx")), richBmp());  // another extension: left alone
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PaintLog painted(form.ProgressBar1, form.Text1);

    QCOMPARE(pressOuvrir(form, inputs[2]).value_or("no dialog"), QStringLiteral("BMP (*.bmp)"));
    QVERIFY(form.Frame7->isVisible());
    QCOMPARE(form.ProgressBar1->maximum(), 3);
    QCOMPARE(form.ProgressBar1->value(), 3);
    QCOMPARE(form.Text1->text(), kDone);
    QCOMPARE(form.nomfi, inputs[3]);
    QCOMPARE(form.ctr, 1.0f);
    QCOMPARE(logLines(world.log), (QStringList{kLogHeader, inputs[1]}));
    QCOMPARE(filesIn(world.output), (QStringList{"Log.txt", "a.tif", "c.tif", "d.tif"}));
    QVERIFY(readTiff(world.out(QStringLiteral("d.tif"))).read);

    // The window was painted after each file: the bar at 0, 1, 2, 3, and the second file's
    // anomaly in the message line until the final message replaced it.
    QCOMPARE(painted.values, (QList<int>{0, 1, 2, 3}));
    QTRY_COMPARE(painted.messages.size(), 3);
    QCOMPARE(painted.messages, (QStringList{QString(), QStringLiteral("Anomalie. Conversion avortée"), kDone}));
}

void FolderRunTest::zeroAndOneMatchingFiles()
{
    World world;
    Form1& form = world.start();
    folderMode(form);
    const QString none = world.temp.path(QStringLiteral("none"));
    const QString one = world.temp.path(QStringLiteral("one"));
    QVERIFY(QDir().mkdir(none) && QDir().mkdir(one));
    writeFile(none + QStringLiteral("/other.pcx"), richBmp());
    writeFile(one + QStringLiteral("/only.bmp"), richBmp());

    // No matching file (the chosen name need not exist): the bar shows full at its old maximum.
    pressOuvrir(form, none + QStringLiteral("/other.pcx"));
    QCOMPARE(form.Text1->text(), kDone);
    QVERIFY(form.Frame7->isVisible());
    QCOMPARE(form.ProgressBar1->maximum(), 100);
    QCOMPARE(form.ProgressBar1->value(), 100);
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"});
    QCOMPARE(form.nomfi, none + QStringLiteral("/other.pcx"));

    // Three files set the maximum to 2; one file afterwards leaves it there.
    for (const char* name : {"x.bmp", "y.bmp", "z.bmp"})
        writeFile(world.input(QString::fromLatin1(name)), richBmp());
    pressOuvrir(form, world.input(QStringLiteral("x.bmp")));
    QCOMPARE(form.ProgressBar1->maximum(), 2);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PaintLog painted(form.ProgressBar1, form.Text1);
    pressOuvrir(form, one + QStringLiteral("/only.bmp"));
    QCOMPARE(form.ProgressBar1->maximum(), 2);
    QCOMPARE(form.ProgressBar1->value(), 2);
    QTRY_COMPARE(painted.values, (QList<int>{2, 0, 2}));  // the end of the earlier run, the file, full
    QCOMPARE(form.Text1->text(), kDone);
    QVERIFY(QFile::exists(world.out(QStringLiteral("only.tif"))));
}

void FolderRunTest::matchesAnyLetterCaseInNameOrder()
{
    World world;
    Form1& form = world.start();
    folderMode(form);
    writeFile(world.input(QStringLiteral("B.BMP")), kNotAnImage);
    writeFile(world.input(QStringLiteral("a.bmp")), kNotAnImage);
    writeFile(world.input(QStringLiteral("C.Bmp")), richBmp());
    writeFile(world.input(QStringLiteral("d.bmpx")), richBmp());
    pressOuvrir(form, world.input(QStringLiteral("a.bmp")));
    QCOMPARE(form.Text1->text(), kDone);
    QCOMPARE(logLines(world.log),
             (QStringList{kLogHeader, world.input(QStringLiteral("a.bmp")), world.input(QStringLiteral("B.BMP"))}));
    QCOMPARE(filesIn(world.output), (QStringList{"C.tif", "Log.txt"}));
    QCOMPARE(form.ProgressBar1->maximum(), 2);
}

void FolderRunTest::runsOfSeveralFolders_data()
{
    // Files are written as "folder/name"; a .pcd file is a Photo CD of 192 × 128, any other a
    // bitmap whose width (8, 16, 24 …) tells which one it was. A run is pressed for each folder
    // in turn, after typing into the message line.
    QTest::addColumn<QString>("input");  // the input format's option
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<QList<int>>("widths");

    QTest::newRow("the same name from two folders: the later run's file")
        << "Option1" << QStringList{"a/x.bmp", "b/x.bmp"} << QStringList{"a", "b"} << QStringList{"x.tif"}
        << QList<int>{16};
    QTest::newRow("pcd files") << "Option14" << QStringList{"p/one.pcd", "p/TWO.PCD", "p/three.bmp"} << QStringList{"p"}
                               << QStringList{"TWO.tif", "one.tif"} << QList<int>{192, 192};
}

void FolderRunTest::runsOfSeveralFolders()
{
    QFETCH(QString, input);
    QFETCH(QStringList, files);
    QFETCH(QStringList, runs);
    QFETCH(QStringList, outputs);
    QFETCH(QList<int>, widths);

    World world;
    Form1& form = world.start();
    folderMode(form);
    form.findChild<QRadioButton*>(input)->setChecked(true);
    QFile pcd(QStringLiteral(TESSELO_TEST_DATA "/pcd/base16_only.pcd"));
    QVERIFY2(pcd.open(QIODevice::ReadOnly), qPrintable(pcd.fileName()));
    const QByteArray photoCd = pcd.readAll();
    for (qsizetype i = 0; i < files.size(); ++i) {
        QDir(world.in).mkpath(QFileInfo(files[i]).path());
        writeFile(world.input(files[i]),
                  files[i].endsWith(".pcd", Qt::CaseInsensitive) ? photoCd : richBmp(8 * int(i + 1), 8));
    }

    for (const QString& folder : runs) {
        QTest::keyClicks(form.Text1, QStringLiteral("typed"));
        pressOuvrir(form, world.input(folder + QStringLiteral("/chosen")));
        QCOMPARE(form.Text1->text(), kDone);
    }
    QCOMPARE(logLines(world.log), QStringList{kLogHeader});
    QCOMPARE(filesIn(world.output), QStringList{"Log.txt"} + outputs);
    for (qsizetype i = 0; i < outputs.size(); ++i)
        QCOMPARE(readTiff(world.out(outputs[i])).width, widths[i]);
}

void FolderRunTest::unloggedFailuresAreSaid()
{
    // The output folder stood already at start-up, so the program has no log of its own.
    World world;
    QVERIFY(QDir().mkdir(world.output));
    Form1& form = world.start();
    folderMode(form);
    QVERIFY(!pressOuvrir(form, QString()));  // the warning's press
    writeFile(world.input(QStringLiteral("a.bmp")), kNotAnImage);
    writeFile(world.input(QStringLiteral("b.bmp")), richBmp());
    writeFile(world.input(QStringLiteral("c.bmp")), kNotAnImage);
    pressOuvrir(form, world.input(QStringLiteral("a.bmp")));
    QCOMPARE(form.Text1->text(), kDone + QStringLiteral(" (2 échecs non inscrits dans Log.txt)"));
    QCOMPARE(form.ctr, 2.0f);
    QVERIFY(QFile::exists(world.out(QStringLiteral("b.tif"))));
    QVERIFY(!QFile::exists(world.log));

    // A log the program made but can no longer write to.
    World second;
    Form1& other = second.start();
    folderMode(other);
    QVERIFY(QFile::remove(second.log));
    QVERIFY(QDir().mkdir(second.log));
    writeFile(second.input(QStringLiteral("a.bmp")), kNotAnImage);
    pressOuvrir(other, second.input(QStringLiteral("a.bmp")));
    QCOMPARE(other.Text1->text(), kDone + QStringLiteral(" (1 échec non inscrit dans Log.txt)"));
    QCOMPARE(other.ctr, 1.0f);
}

void FolderRunTest::runInsideTheOutputFolderOverwritesNothing()
{
    World world;
    Form1& form = world.start();
    folderMode(form);
    form.Option5->setChecked(true);        // input tif, output the default TIFF: each output is its input
    const QByteArray content = richBmp();  // the reader goes by content, not by name
    writeFile(world.out(QStringLiteral("a.tif")), content);
    writeFile(world.out(QStringLiteral("b.tif")), content);
    pressOuvrir(form, world.out(QStringLiteral("a.tif")));
    QCOMPARE(form.Text1->text(), kDone);
    QCOMPARE(readAll(world.out(QStringLiteral("a.tif"))), content);
    QCOMPARE(readAll(world.out(QStringLiteral("b.tif"))), content);
    QCOMPARE(logLines(world.log),
             (QStringList{kLogHeader, world.out(QStringLiteral("a.tif")), world.out(QStringLiteral("b.tif"))}));
}

void FolderRunTest::closeRequestWaitsForTheRun()
{
    World world;
    Form1& form = world.start();
    folderMode(form);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"})
        writeFile(world.input(QString::fromLatin1(name)), richBmp());
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Both a close asked of the window by the program (Quitter's way) and the close box's.
    CommonDialog::setAnswerForTesting([&](const QString&) {
        QMetaObject::invokeMethod(&form, &QWidget::close, Qt::QueuedConnection);
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::AsynchronousDelivery>(form.windowHandle());
        return world.input(QStringLiteral("a.bmp"));
    });
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(form.Text1->text(), kDone);
    QCOMPARE(filesIn(world.output), (QStringList{"Log.txt", "a.tif", "b.tif", "c.tif", "d.tif"}));
    QVERIFY2(form.isVisible(), "still open when the run is over");

    // Then the window closes, and its shutdown removes the log of a run without failures.
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!QFile::exists(world.log));
    QCOMPARE(filesIn(world.output).size(), 4);
}

void FolderRunTest::inputWaitsForTheRun()
{
    // A key press on the resize slider that arrives during a run does not resize the files
    // still to come; it takes effect once the run is over.
    World world;
    Form1& form = world.start();
    folderMode(form);
    form.Option15->setChecked(true);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writeFile(world.input(QString::fromLatin1(name)), richBmp());
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(form.Slider2->value(), 100);

    CommonDialog::setAnswerForTesting([&](const QString&) {
        form.Slider2->setFocus();  // pressing "Ouvrir" gave the focus to the button
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
            QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
                form.windowHandle(), type, Qt::Key_Right, Qt::NoModifier, QString(), false, 1);
        return world.input(QStringLiteral("a.bmp"));
    });
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(form.Text1->text(), kDone);
    QCOMPARE(form.Slider2->value(), 100);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        QCOMPARE(readBmp(world.out(QString::fromLatin1(name))).width, 64);
    QTRY_COMPARE(form.Slider2->value(), 101);
}

void FolderRunTest::aboutAndHelpWaitForTheRun()
{
    // Activations of About and Help that the window manager delivers while the run paints its
    // progress reach them only once the run is over: About then closes (its second activation),
    // Help draws its text a second time.
    Form2::aig = 0;
    World world;
    Form1& form = world.start();
    folderMode(form);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writeFile(world.input(QString::fromLatin1(name)), richBmp());
    form.Command3->click();
    form.Command4->click();
    QPointer<Form3> help = openWindow<Form3>();
    QPointer<Form2> about = openWindow<Form2>();
    QVERIFY(help && about);
    QTRY_VERIFY(about->isActiveWindow());
    QTRY_VERIFY(!help->drawnText().lines().empty());
    const std::size_t helpLines = help->drawnText().lines().size();
    form.activateWindow();
    QTRY_VERIFY(form.isActiveWindow());

    CommonDialog::setAnswerForTesting([&](const QString&) {
        for (QWidget* window : {static_cast<QWidget*>(about), static_cast<QWidget*>(help)})
            QWindowSystemInterface::handleWindowActivated<QWindowSystemInterface::AsynchronousDelivery>(
                window->windowHandle(), Qt::ActiveWindowFocusReason);
        return world.input(QStringLiteral("a.bmp"));
    });
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(form.Text1->text(), kDone);
    QVERIFY2(about && about->isVisible(), "About still open when the run is over");
    QCOMPARE(help->drawnText().lines().size(), helpLines);
    QCOMPARE(Form2::aig, qint16(1));

    QTRY_VERIFY(!about || !about->isVisible());
    QCOMPARE(Form2::aig, qint16(0));
    QTRY_VERIFY(help->drawnText().lines().size() > helpLines);
}

QTEST_MAIN(FolderRunTest)
#include "folder_run_test.moc"
