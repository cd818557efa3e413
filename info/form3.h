// The Help window: thirty lines drawn at each activation, continuing below the last drawing, and
// one "OK" button.
#pragma once

#include "info/text_window.h"

class QPushButton;

class Form3 : public TextWindow {
    Q_OBJECT

public:
    explicit Form3(QWidget* parent = nullptr);

    QPushButton* Command1 = nullptr;

    void Form_Load();
    void Form_Activate() override;
};
