#include "info/form2.h"

#include <QPushButton>

#include "widgets/centre.h"
#include "widgets/controls.h"
#include "widgets/icons.h"

namespace {

const QString kLines[] = {
    QString(), QStringLiteral("      © 2026 Projet Tesselo"),
    QString(), QStringLiteral("            tesselo@example.org"),
    QString(), QStringLiteral("         tesselo.example.org"),
};

}  // namespace

Form2::Form2(QWidget* parent) : TextWindow(parent)
{
    setWindowTitle(QStringLiteral(" A propos"));
    setWindowIcon(aboutIcon());
    setFixedSize(pixels(2385), pixels(1995));
    setFont(designFont(8.25));

    ControlBuilder ui;
    Command1 = ui.button(this, "Command1", "O K", {480, 1320, 1455, 495}, 0, {12, kDefault, kDefault});
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);

    Form_Load();
}

void Form2::Form_Load() { centreOnScreen(this); }

void Form2::Form_Activate()
{
    if (aig == 0) {
        aig = 1;
        for (const QString& line : kLines)
            text_.print(line);
    } else {
        Command1_Click();
        aig = 0;
    }
}
