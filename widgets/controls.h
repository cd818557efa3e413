// Builds a window's controls from its layout: each control with its object name, container,
// text, place and size in twips (15 to a pixel), focus order, font size and colours.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <utility>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QWidget;

// Left, top, width and height in twips, measured from the container's top-left corner.
struct Twips {
    int left, top, width, height;
};

// Font size in points and the background and text colours; an empty colour (kDefault) keeps the
// platform's colour for that kind of control.
struct Look {
    qreal points = 0;
    const char* back = nullptr;
    const char* text = nullptr;
};
inline constexpr const char* kDefault = nullptr;

// "MS Serif", bold, at `points`.
QFont designFont(qreal points);

int pixels(int twips);

class ControlBuilder {
public:
    QGroupBox* frame(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look);
    QPushButton* button(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look);
    QLineEdit* textBox(QWidget* in, const char* name, const QString& text, Twips at, int tab, Look look);
    QRadioButton* option(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look);
    QCheckBox* checkBox(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look);
    QSlider* slider(QWidget* in, const char* name, Twips at, int tab);
    QProgressBar* progressBar(QWidget* in, const char* name, Twips at, int tab);

    // Chains the controls that take the keyboard focus in the order of their tab numbers; the
    // first of them has the focus when the window opens.
    void applyTabOrder();

private:
    enum class Surface { Window, Button, Base };
    void place(QWidget* control, const char* name, Twips at, int tab, Look look, Surface surface);

    std::vector<std::pair<int, QWidget*>> byTab_;
};
