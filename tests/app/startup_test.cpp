// The main window's start-up: the state it leaves, the output folder and its fresh log, and the
// warning when the folder cannot be made.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <memory>

#include "app/form1.h"
#include "tests/support/window_testkit.h"

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartTakesTheStartingState();
    void firstStartMakesTheFolderAndAFreshLog();
    void existingFolderGivesTheWarningAndIsLeftAlone();
    void linkedFolderGivesTheWarningAndNothingIsWrittenThrough();
    void windowIsCentred();

private:
    static void verifyOptionState(const Form1& form);
};

void StartupTest::verifyOptionState(const Form1& form)
{
    QCOMPARE(form.Check1->checkState(), Qt::Unchecked);
    QCOMPARE(form.Check1->text(), QStringLiteral(" Contrôle ci-dessus inactif"));
    QCOMPARE(form.Slider1->value(), 255);
    QVERIFY(!form.Slider1->isEnabled());
    QCOMPARE(form.Text3->text(), QStringLiteral("256"));
    QVERIFY(form.Option21->isEnabled());
    QVERIFY(!form.Option21->isChecked());
    QCOMPARE(form.Slider2->value(), 100);
    QVERIFY(form.Slider2->isEnabled());
    QCOMPARE(form.Text2->text(), QStringLiteral("100  %"));

    const QRadioButton* selected[] = {form.Option1, form.Option16, form.Option20};
    for (const auto* option : form.findChildren<QRadioButton*>()) {
        const bool expected = std::find(std::begin(selected), std::end(selected), option) != std::end(selected);
        QVERIFY2(option->isChecked() == expected, qPrintable(option->objectName()));
    }
    QVERIFY(form.Frame7->isHidden());
    QCOMPARE(form.ProgressBar1->value(), 0);
    QCOMPARE(form.fmtbmp, qint16(0));
    QCOMPARE(form.dib, 0);
    QVERIFY(form.filtre.isEmpty());
    QVERIFY(form.filtrs.isEmpty());
    QVERIFY(form.nomfi.isEmpty());
}

void StartupTest::firstStartTakesTheStartingState()
{
    ScratchTemp temp;
    Form1 form;
    verifyOptionState(form);
    QCOMPARE(form.aig, qint16(0));
    QCOMPARE(form.ctr, 0.0f);
    QCOMPARE(form.cible, temp.path("Dib.bmp"));
    QCOMPARE(form.logx, temp.path("Vamko/Log.txt"));
    QVERIFY(form.Text1->text().isEmpty());
    QVERIFY(!QFile::exists(temp.path("Dib.bmp")));
}

void StartupTest::firstStartMakesTheFolderAndAFreshLog()
{
    ScratchTemp temp;
    Form1 form;
    QVERIFY(QFileInfo(temp.path("Vamko")).isDir());
    QCOMPARE(readAll(temp.path("Vamko/Log.txt")), kLogHeaderBytes);
    QCOMPARE(QDir(temp.path("Vamko")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"Log.txt"});
}

void StartupTest::existingFolderGivesTheWarningAndIsLeftAlone()
{
    ScratchTemp temp;
    QVERIFY(QDir().mkdir(temp.path("Vamko")));
    const QByteArray oldLog = "Liste des fichiers non convertis par suite d'anomalies\r\n/x/a.jpg\r\n";
    QVERIFY(writeAll(temp.path("Vamko/Log.txt"), oldLog));
    QVERIFY(writeAll(temp.path("Vamko/a.tif"), "earlier result"));

    Form1 form;
    QCOMPARE(form.Text1->text(), kWarning);
    QCOMPARE(form.aig, qint16(1));
    QVERIFY(form.logx.isEmpty());
    QCOMPARE(form.ctr, 0.0f);
    QCOMPARE(form.cible, temp.path("Dib.bmp"));
    verifyOptionState(form);
    QCOMPARE(readAll(temp.path("Vamko/Log.txt")), oldLog);
    QCOMPARE(readAll(temp.path("Vamko/a.tif")), QByteArray("earlier result"));

    // Closing the window in this state deletes nothing.
    form.close();
    QCOMPARE(readAll(temp.path("Vamko/Log.txt")), oldLog);
}

void StartupTest::linkedFolderGivesTheWarningAndNothingIsWrittenThrough()
{
    ScratchTemp temp;
    QVERIFY(QDir().mkdir(temp.path("elsewhere")));
    QVERIFY(QFile::link(temp.path("elsewhere"), temp.path("Vamko")));
    {
        Form1 form;
        QCOMPARE(form.aig, qint16(1));
        QCOMPARE(form.Text1->text(), kWarning);
        QVERIFY(form.logx.isEmpty());
    }
    QVERIFY(QDir(temp.path("elsewhere")).isEmpty());

    // A link to nowhere is not followed to make a folder at its target either.
    QVERIFY(QFile::remove(temp.path("Vamko")));
    QVERIFY(QFile::link(temp.path("nowhere"), temp.path("Vamko")));
    Form1 form;
    QCOMPARE(form.aig, qint16(1));
    QVERIFY(!QFileInfo::exists(temp.path("nowhere")));
}

void StartupTest::windowIsCentred()
{
    ScratchTemp temp;
    Form1 form;
    const QSize screen = form.screen()->geometry().size();
    QCOMPARE(form.size(), QSize(577, 441));
    QCOMPARE(form.x(), qRound((screen.width() - form.width()) / 2.0));
    QCOMPARE(form.y(), qRound((screen.height() - form.height()) / 2.0));
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
