// The colour-count and percentage texts, as plain rules and as the window shows them, over the
// sliders' whole ranges.
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>

#include "app/form1.h"
#include "options/text_rules.h"
#include "tests/support/window_testkit.h"

class TextRulesTest : public QObject {
    Q_OBJECT

private slots:
    void colourCountIsRightAlignedInThree_data();
    void colourCountIsRightAlignedInThree();
    void percentIsRightAlignedInThreeThenTwoSpaces_data();
    void percentIsRightAlignedInThreeThenTwoSpaces();
    void longerNumbersAreWrittenInFull();
    void windowShowsTheRulesOverTheWholeRanges();
};

void TextRulesTest::colourCountIsRightAlignedInThree_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << 1 << "  2";
    QTest::newRow("8") << 8 << "  9";
    QTest::newRow("9") << 9 << " 10";
    QTest::newRow("50") << 50 << " 51";
    QTest::newRow("98") << 98 << " 99";
    QTest::newRow("99") << 99 << "100";
    QTest::newRow("255") << 255 << "256";
}

void TextRulesTest::colourCountIsRightAlignedInThree()
{
    QFETCH(int, position);
    QFETCH(QString, text);
    QCOMPARE(colourCountText(position), text);
}

void TextRulesTest::percentIsRightAlignedInThreeThenTwoSpaces_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::newRow("10") << 10 << " 10  %";
    QTest::newRow("50") << 50 << " 50  %";
    QTest::newRow("99") << 99 << " 99  %";
    QTest::newRow("100") << 100 << "100  %";
    QTest::newRow("200") << 200 << "200  %";
}

void TextRulesTest::percentIsRightAlignedInThreeThenTwoSpaces()
{
    QFETCH(int, position);
    QFETCH(QString, text);
    QCOMPARE(percentText(position), text);
}

void TextRulesTest::longerNumbersAreWrittenInFull()
{
    QCOMPARE(colourCountText(999), QStringLiteral("1000"));
    QCOMPARE(colourCountText(2147483647), QStringLiteral("2147483648"));
    QCOMPARE(percentText(1000), QStringLiteral("1000  %"));
    QCOMPARE(percentText(5), QStringLiteral(" 5  %"));
}

void TextRulesTest::windowShowsTheRulesOverTheWholeRanges()
{
    ScratchTemp temp;
    Form1 form;
    form.Check1->click();  // the colour slider is active only while the box is ticked
    for (int p = form.Slider1->minimum(); p <= form.Slider1->maximum(); ++p) {
        form.Slider1->setValue(p);
        QCOMPARE(form.Text3->text(), QStringLiteral("%1").arg(p + 1, 3));
    }
    for (int p = form.Slider2->minimum(); p <= form.Slider2->maximum(); ++p) {
        form.Slider2->setValue(p);
        QCOMPARE(form.Text2->text(), QStringLiteral("%1  %").arg(p, 3));
    }

    // The user's moves go through the same handlers.
    form.Slider2->setFocus();
    form.Slider2->setValue(100);
    QTest::keyClick(form.Slider2, Qt::Key_Left);
    QCOMPARE(form.Text2->text(), QStringLiteral(" 99  %"));
    QTest::keyClick(form.Slider2, Qt::Key_PageUp);
    QCOMPARE(form.Text2->text(), QStringLiteral("104  %"));
}

QTEST_MAIN(TextRulesTest)
#include "text_rules_test.moc"
