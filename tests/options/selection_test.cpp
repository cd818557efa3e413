// Format selection: the first selected button in the test order wins; the untested button of
// each group is the fall-back, also when nothing is selected.
#include <QGroupBox>
#include <QRadioButton>

#include "app/form1.h"
#include "options/formats.h"
#include "tests/support/window_testkit.h"

class SelectionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startingSelection();
    void input_data();
    void input();
    void output_data();
    void output();
    void noSelectionFallsBack();
    void tablesOutsideTheirRangeFallBack();

private:
    std::unique_ptr<ScratchTemp> temp_;
    std::unique_ptr<Form1> form_;
};

void SelectionTest::initTestCase()
{
    temp_ = std::make_unique<ScratchTemp>();
    form_ = std::make_unique<Form1>();
}

void SelectionTest::cleanupTestCase()
{
    form_.reset();
    temp_.reset();
}

void SelectionTest::startingSelection()
{
    form_->choixlecture();
    form_->choixecriture();
    QCOMPARE(form_->filtre, QStringLiteral("bmp"));
    QCOMPARE(form_->filtrs, QStringLiteral("tifd"));
}

void SelectionTest::input_data()
{
    QTest::addColumn<QString>("extension");
    const char* extensions[] = {"bmp", "dib", "jpg", "jif", "tif", "pcx", "tga",
                                "pbm", "pgm", "ppm", "rle", "gem", "ras", "pcd"};
    for (int n = 1; n <= 14; ++n)
        QTest::newRow(qPrintable(QStringLiteral("Option%1").arg(n))) << QString::fromLatin1(extensions[n - 1]);
}

void SelectionTest::input()
{
    QFETCH(QString, extension);
    form_->findChild<QRadioButton*>(QString::fromLatin1(QTest::currentDataTag()))->click();
    form_->choixlecture();
    QCOMPARE(form_->filtre, extension);
}

void SelectionTest::output_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("Option15") << "bmp";
    QTest::newRow("Option16") << "tifd";
    QTest::newRow("Option17") << "tifp";
    QTest::newRow("Option22") << "tifn";
    QTest::newRow("Option18") << "tifh";
}

void SelectionTest::output()
{
    QFETCH(QString, code);
    form_->findChild<QRadioButton*>(QString::fromLatin1(QTest::currentDataTag()))->click();
    form_->choixecriture();
    QCOMPARE(form_->filtrs, code);
}

void SelectionTest::noSelectionFallsBack()
{
    for (auto* option : form_->Frame2->findChildren<QRadioButton*>())
        clearOption(option);
    for (auto* option : form_->Frame3->findChildren<QRadioButton*>())
        clearOption(option);
    form_->choixlecture();
    form_->choixecriture();
    QCOMPARE(form_->filtre, QStringLiteral("pcd"));
    QCOMPARE(form_->filtrs, QStringLiteral("tifh"));

    // The first selected button in the test order wins, whatever else is selected.
    form_->Option14->setAutoExclusive(false);
    form_->Option13->setAutoExclusive(false);
    form_->Option14->setChecked(true);
    form_->Option13->setChecked(true);
    form_->choixlecture();
    QCOMPARE(form_->filtre, QStringLiteral("ras"));
}

void SelectionTest::tablesOutsideTheirRangeFallBack()
{
    QCOMPARE(inputExtension(-1), QStringLiteral("pcd"));
    QCOMPARE(inputExtension(13), QStringLiteral("pcd"));
    QCOMPARE(writeFormatCode(-1), QStringLiteral("tifh"));
    QCOMPARE(writeFormatCode(4), QStringLiteral("tifh"));
}

QTEST_MAIN(SelectionTest)
#include "selection_test.moc"
