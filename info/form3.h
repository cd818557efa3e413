// The Help window: thirty lines drawn at each activation, continuing below the last drawing, and
// one "OK" button.
#pragma once

#include <QWidget>

#include "info/drawn_text.h"

class QPushButton;

class Form3 : public QWidget {
    Q_OBJECT

public:
    explicit Form3(QWidget* parent = nullptr);

    QPushButton* Command1 = nullptr;

    void Form_Load();
    void Form_Activate();
    void Command1_Click();

    const DrawnText& drawnText() const { return text_; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    DrawnText text_{this};
};
