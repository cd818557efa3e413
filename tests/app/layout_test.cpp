// The main window as designed: every control's kind, container, place, size, focus order, font
// and colours, and the design values of the controls that hold one.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <memory>

#include "app/form1.h"
#include "tests/support/window_testkit.h"

namespace {

// The colour roles each kind of control is painted with: background, text.
std::pair<QPalette::ColorRole, QPalette::ColorRole> colourRoles(const QWidget* control)
{
    if (qobject_cast<const QPushButton*>(control))
        return {QPalette::Button, QPalette::ButtonText};
    if (qobject_cast<const QLineEdit*>(control))
        return {QPalette::Base, QPalette::Text};
    return {QPalette::Window, QPalette::WindowText};
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void control_data();
    void control();
    void windowItself();
    void focusOrder();
    void designValues();
    void optionsGroupByContainer();
    void greyLevelsCannotBeClearedByClicking();
    void textBoxesTakeTyping();

private:
    std::unique_ptr<ScratchTemp> temp_;
    std::unique_ptr<Form1> form_;
};

void LayoutTest::initTestCase()
{
    temp_ = std::make_unique<ScratchTemp>();
    form_ = std::make_unique<Form1>();
}

void LayoutTest::cleanupTestCase()
{
    form_.reset();
    temp_.reset();
}

void LayoutTest::control_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<qreal>("points");  // 0: the platform's font
    QTest::addColumn<QString>("back");  // "": the platform's colour
    QTest::addColumn<QString>("text");

    const auto row = [](const char* name, const char* kind, const char* in, QRect twips, qreal points, const char* back,
                        const char* text) { QTest::newRow(name) << kind << in << twips << points << back << text; };
    row("Frame7", "QGroupBox", "Form1", {6720, 5520, 1830, 495}, 8.25, "#400040", "#FFFF00");
    row("ProgressBar1", "QProgressBar", "Frame7", {0, 120, 1815, 375}, 0, "", "");
    row("Command4", "QPushButton", "Form1", {6720, 1800, 1815, 495}, 13.5, "", "");
    row("Command3", "QPushButton", "Form1", {6720, 2520, 1815, 495}, 13.5, "", "");
    row("Command2", "QPushButton", "Form1", {6720, 840, 1815, 495}, 13.5, "#008080", "");
    row("Command1", "QPushButton", "Form1", {6720, 120, 1815, 495}, 13.5, "", "");
    row("Text1", "QLineEdit", "Form1", {120, 6120, 8415, 375}, 8.25, "#FFC080", "#FF0000");
    row("Frame1", "QGroupBox", "Form1", {120, 120, 6495, 5895}, 13.5, "#00C0C0", "");
    row("Frame6", "QGroupBox", "Frame1", {1440, 4320, 4935, 1455}, 13.5, "#C0C000", "#C00000");
    row("Text2", "QLineEdit", "Frame6", {2040, 960, 735, 375}, 9.75, "#000000", "#00FF00");
    row("Slider2", "QSlider", "Frame6", {120, 480, 4695, 390}, 0, "", "");
    row("Frame5", "QGroupBox", "Frame1", {1440, 2640, 4935, 1575}, 13.5, "#C000C0", "#0000C0");
    row("Text3", "QLineEdit", "Frame5", {2520, 960, 495, 375}, 9.75, "#000000", "#00FF00");
    row("Check1", "QCheckBox", "Frame5", {120, 1080, 2295, 255}, 8.25, "#FF0000", "#000000");
    row("Option21", "QRadioButton", "Frame5", {3120, 1080, 1695, 255}, 8.25, "#404040", "#FFFF00");
    row("Slider1", "QSlider", "Frame5", {120, 480, 4695, 375}, 0, "", "");
    row("Frame4", "QGroupBox", "Frame1", {3120, 360, 3255, 2175}, 13.5, "#C0C0C0", "#008000");
    row("Option20", "QRadioButton", "Frame4", {120, 1440, 3015, 495}, 9.75, "#00FF00", "");
    row("Option19", "QRadioButton", "Frame4", {120, 480, 3015, 495}, 9.75, "#00FF00", "#000000");
    row("Frame3", "QGroupBox", "Frame1", {1440, 360, 1575, 2175}, 9.75, "#FF8080", "#400000");
    row("Option22", "QRadioButton", "Frame3", {120, 1080, 1335, 255}, 8.25, "#FFFF80", "");
    row("Option18", "QRadioButton", "Frame3", {120, 1800, 1335, 255}, 8.25, "#FFFF80", "");
    row("Option17", "QRadioButton", "Frame3", {120, 1440, 1335, 255}, 8.25, "#FFFF80", "");
    row("Option16", "QRadioButton", "Frame3", {120, 720, 1335, 255}, 8.25, "#FFFF80", "");
    row("Option15", "QRadioButton", "Frame3", {120, 360, 1335, 255}, 8.25, "#FFFF80", "");
    row("Frame2", "QGroupBox", "Frame1", {120, 360, 1215, 5415}, 9.75, "#8080FF", "#800000");
    row("Option14", "QRadioButton", "Frame2", {120, 5040, 975, 255}, 8.25, "#FFC080", "");
    row("Option13", "QRadioButton", "Frame2", {120, 4680, 975, 255}, 8.25, "#FFFF80", "");
    row("Option12", "QRadioButton", "Frame2", {120, 4320, 975, 255}, 8.25, "#FFFF80", "");
    row("Option11", "QRadioButton", "Frame2", {120, 3960, 975, 255}, 8.25, "#FFFF80", "");
    row("Option10", "QRadioButton", "Frame2", {120, 3600, 975, 255}, 8.25, "#FFFF80", "");
    row("Option9", "QRadioButton", "Frame2", {120, 3240, 975, 255}, 8.25, "#FFFF80", "");
    row("Option8", "QRadioButton", "Frame2", {120, 2880, 975, 255}, 8.25, "#FFFF80", "");
    row("Option7", "QRadioButton", "Frame2", {120, 2520, 975, 255}, 8.25, "#FFFF80", "");
    row("Option6", "QRadioButton", "Frame2", {120, 2160, 975, 255}, 8.25, "#FFFF80", "");
    row("Option5", "QRadioButton", "Frame2", {120, 1800, 975, 255}, 8.25, "#FFFF80", "");
    row("Option4", "QRadioButton", "Frame2", {120, 1440, 975, 255}, 8.25, "#FFFF80", "");
    row("Option3", "QRadioButton", "Frame2", {120, 1080, 975, 255}, 8.25, "#FFFF80", "");
    row("Option2", "QRadioButton", "Frame2", {120, 720, 975, 255}, 8.25, "#FFFF80", "");
    row("Option1", "QRadioButton", "Frame2", {120, 360, 975, 255}, 8.25, "#FFFF80", "");
}

void LayoutTest::control()
{
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QRect, twips);
    QFETCH(qreal, points);
    QFETCH(QString, back);
    QFETCH(QString, text);

    const auto* control = form_->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->metaObject()->className(), kind);
    QCOMPARE(control->parentWidget()->objectName().isEmpty() ? QStringLiteral("Form1")
                                                             : control->parentWidget()->objectName(),
             container);
    QCOMPARE(control->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));

    if (points > 0) {
        QCOMPARE(control->font().families().value(0), QStringLiteral("MS Serif"));
        QCOMPARE(control->font().styleHint(), QFont::Serif);
        QVERIFY(control->font().bold());
        QCOMPARE(control->font().pointSizeF(), points);
    }

    const auto [backRole, textRole] = colourRoles(control);
    const QPalette platform = QApplication::palette(control);
    QCOMPARE(control->palette().color(backRole), back.isEmpty() ? platform.color(backRole) : QColor(back));
    if (!qobject_cast<const QSlider*>(control) && !qobject_cast<const QProgressBar*>(control))
        QCOMPARE(control->palette().color(textRole), text.isEmpty() ? platform.color(textRole) : QColor(text));
}

void LayoutTest::windowItself()
{
    QCOMPARE(form_->size(), QSize(8655 / 15, 6615 / 15));
    QCOMPARE(form_->palette().color(QPalette::Window), QColor("#400040"));
    QCOMPARE(form_->palette().color(QPalette::WindowText), QColor("#800080"));
    QVERIFY(!form_->windowIcon().pixmap(32, 32).isNull());
    QVERIFY(form_->CommonDialog1);

    // The buttons' and Text1's right edge at 8535, Text1's bottom at 6495 (twips).
    for (const QWidget* control : {static_cast<QWidget*>(form_->Command1), static_cast<QWidget*>(form_->Text1)})
        QCOMPARE(control->geometry().right() + 1, 8535 / 15);
    QCOMPARE(form_->Text1->geometry().bottom() + 1, 6495 / 15);
}

void LayoutTest::focusOrder()
{
    const QStringList expected = {
        "Option1",  "Option2",  "Option3",  "Option4",  "Option5",  "Option6",  "Option7",  "Option8",
        "Option9",  "Option10", "Option11", "Option12", "Option13", "Option14", "Option15", "Option16",
        "Option17", "Option18", "Option19", "Option20", "Slider1",  "Option21", "Check1",   "Slider2",
        "Text1",    "Command1", "Command2", "Command3", "Command4", "Option22", "Text2",    "Text3",
    };
    QCOMPARE(form_->focusWidget(), form_->Option1);
    QStringList chain;
    QWidget* control = form_->Option1;
    do {
        if (control->focusPolicy() & Qt::TabFocus)
            chain << control->objectName();
        control = control->nextInFocusChain();
    } while (control != form_->Option1);
    QCOMPARE(chain, expected);
    for (const auto* frame : form_->findChildren<QGroupBox*>())
        QCOMPARE(frame->focusPolicy(), Qt::NoFocus);
    QCOMPARE(form_->ProgressBar1->focusPolicy(), Qt::NoFocus);
}

void LayoutTest::designValues()
{
    struct Expected {
        QSlider* slider;
        int minimum, maximum;
    };
    for (const auto& [slider, minimum, maximum] :
         {Expected{form_->Slider1, 1, 255}, Expected{form_->Slider2, 10, 200}}) {
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(slider->minimum(), minimum);
        QCOMPARE(slider->maximum(), maximum);
        QCOMPARE(slider->singleStep(), 1);
        QCOMPARE(slider->pageStep(), 5);
        QCOMPARE(slider->tickInterval(), 10);
        QVERIFY(slider->tickPosition() != QSlider::NoTicks);
    }
    QCOMPARE(form_->ProgressBar1->minimum(), 0);
    QCOMPARE(form_->ProgressBar1->maximum(), 100);
    for (const auto* box : {form_->Text1, form_->Text2, form_->Text3})
        QVERIFY(!box->isReadOnly());
}

void LayoutTest::optionsGroupByContainer()
{
    form_->Option3->click();
    QVERIFY(form_->Option3->isChecked());
    QVERIFY(!form_->Option1->isChecked());
    QVERIFY(form_->Option16->isChecked());
    QVERIFY(form_->Option20->isChecked());

    form_->Option22->click();
    QVERIFY(!form_->Option16->isChecked());
    QVERIFY(form_->Option3->isChecked());

    form_->Option19->click();
    QVERIFY(!form_->Option20->isChecked());
    QVERIFY(!form_->Option21->isChecked());

    form_->Option1->click();
    form_->Option16->click();
    form_->Option20->click();
}

void LayoutTest::greyLevelsCannotBeClearedByClicking()
{
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QTest::mouseClick(form_->Option21, Qt::LeftButton);
    QVERIFY(form_->Option21->isChecked());
    QTest::mouseClick(form_->Option21, Qt::LeftButton);
    QVERIFY(form_->Option21->isChecked());
}

void LayoutTest::textBoxesTakeTyping()
{
    form_->Text1->setFocus();
    QTest::keyClicks(form_->Text1, "abc");
    QCOMPARE(form_->Text1->text(), QStringLiteral("abc"));
    form_->Slider2->setValue(50);
    QCOMPARE(form_->Text2->text(), QStringLiteral(" 50  %"));
    form_->Slider2->setValue(100);
}

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
