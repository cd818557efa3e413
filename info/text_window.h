// What the About and Help windows share: text drawn onto the window at each activation and kept
// (so it shows again when the window is uncovered), and one button that closes the window.
#pragma once

#include <QWidget>

#include "info/drawn_text.h"

class TextWindow : public QWidget {
public:
    explicit TextWindow(QWidget* parent) : QWidget(parent) {}

    virtual void Form_Activate() = 0;
    void Command1_Click() { close(); }

    const DrawnText& drawnText() const { return text_; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    DrawnText text_{this};
};
