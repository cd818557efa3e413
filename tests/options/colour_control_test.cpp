// The colour control: Check1 switches between the colour slider and the grey-levels option.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "app/form1.h"
#include "tests/support/window_testkit.h"

namespace {

const QString kActive = QStringLiteral(" Contrôle ci-dessus actif");
const QString kInactive = QStringLiteral(" Contrôle ci-dessus inactif");

void verifyInactive(const Form1& form)
{
    QCOMPARE(form.Check1->checkState(), Qt::Unchecked);
    QCOMPARE(form.Check1->text(), kInactive);
    QVERIFY(!form.Slider1->isEnabled());
    QCOMPARE(form.Slider1->value(), 255);
    QCOMPARE(form.Text3->text(), QStringLiteral("256"));
    QVERIFY(form.Option21->isEnabled());
}

void verifyActive(const Form1& form)
{
    QCOMPARE(form.Check1->checkState(), Qt::Checked);
    QCOMPARE(form.Check1->text(), kActive);
    QVERIFY(form.Slider1->isEnabled());
    QVERIFY(!form.Option21->isEnabled());
    QVERIFY(!form.Option21->isChecked());
}

}  // namespace

class ColourControlTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tickingActivatesTheSlider();
    void untickingParksTheSliderAtItsMaximum();
    void tickingClearsTheGreyLevels();
    void activeStepsComeInTheirOrder();
    void inactiveStepsComeInTheirOrder();
    void untickingAtTheMaximumChangesOnlyTheCaption();

private:
    std::unique_ptr<ScratchTemp> temp_;
    std::unique_ptr<Form1> form_;
};

void ColourControlTest::init()
{
    temp_ = std::make_unique<ScratchTemp>();
    form_ = std::make_unique<Form1>();
    verifyInactive(*form_);
}

void ColourControlTest::cleanup()
{
    form_.reset();
    temp_.reset();
}

void ColourControlTest::tickingActivatesTheSlider()
{
    form_->Check1->click();
    verifyActive(*form_);
    QCOMPARE(form_->Slider1->value(), 255);  // the position and its text stay
    QCOMPARE(form_->Text3->text(), QStringLiteral("256"));
}

void ColourControlTest::untickingParksTheSliderAtItsMaximum()
{
    form_->Check1->click();
    form_->Slider1->setValue(50);
    QCOMPARE(form_->Text3->text(), QStringLiteral(" 51"));
    form_->Check1->click();
    verifyInactive(*form_);
    QVERIFY(!form_->Option21->isChecked());
}

void ColourControlTest::tickingClearsTheGreyLevels()
{
    form_->Option21->click();
    QVERIFY(form_->Option21->isChecked());
    form_->Check1->click();
    verifyActive(*form_);
    form_->Check1->click();
    verifyInactive(*form_);
    QVERIFY(!form_->Option21->isChecked());  // enabled again, still cleared
}

void ColourControlTest::activeStepsComeInTheirOrder()
{
    // Clearing Option21 is the last step: by then the caption is set, the slider enabled and
    // the option disabled.
    form_->Option21->click();
    bool seen = false;
    connect(form_->Option21, &QRadioButton::toggled, this, [&](bool on) {
        QVERIFY(!on);
        QCOMPARE(form_->Check1->text(), kActive);
        QVERIFY(form_->Slider1->isEnabled());
        QVERIFY(!form_->Option21->isEnabled());
        seen = true;
    });
    form_->Check1->click();
    QVERIFY(seen);
}

void ColourControlTest::inactiveStepsComeInTheirOrder()
{
    // Parking the slider comes after the caption and the disabling, before Option21 is enabled.
    form_->Check1->click();
    form_->Slider1->setValue(10);
    bool seen = false;
    connect(form_->Slider1, &QSlider::valueChanged, this, [&](int value) {
        QCOMPARE(value, 255);
        QCOMPARE(form_->Check1->text(), kInactive);
        QVERIFY(!form_->Slider1->isEnabled());
        QVERIFY(!form_->Option21->isEnabled());
        seen = true;
    });
    form_->Check1->click();
    QVERIFY(seen);
    QVERIFY(form_->Option21->isEnabled());
}

void ColourControlTest::untickingAtTheMaximumChangesOnlyTheCaption()
{
    form_->Check1->click();
    int moves = 0;
    connect(form_->Slider1, &QSlider::valueChanged, this, [&] { ++moves; });
    form_->Check1->click();
    QCOMPARE(moves, 0);
    verifyInactive(*form_);
}

QTEST_MAIN(ColourControlTest)
#include "colour_control_test.moc"
