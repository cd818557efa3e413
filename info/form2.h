// The About window: three lines drawn on activation, one "O K" button. Its switch `aig` belongs
// to the window's data, which outlives each opening of the window.
#pragma once

#include "info/text_window.h"

class QPushButton;

class Form2 : public TextWindow {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);

    QPushButton* Command1 = nullptr;

    // 1: the last activation drew the lines, so the next one closes the window.
    static inline qint16 aig = 0;

    void Form_Load();
    void Form_Activate() override;
};
