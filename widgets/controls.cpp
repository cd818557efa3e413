#include "widgets/controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>

QFont designFont(qreal points)
{
    // Where "MS Serif" is missing, a serif face of about its width keeps the captions within
    // their controls; failing that, any serif face.
    QFont font;
    font.setFamilies({QStringLiteral("MS Serif"), QStringLiteral("Liberation Serif")});
    font.setStyleHint(QFont::Serif);
    font.setBold(true);
    font.setPointSizeF(points);
    return font;
}

int pixels(int twips) { return qRound(twips / 15.0); }

namespace {

// Sets `role` to `colour`, or to the platform's colour for this kind of control when `colour` is
// empty, so a container's colours never leak into a control that keeps the platform's.
void setRole(QPalette& palette, QPalette::ColorRole role, const char* colour, const QWidget* control)
{
    palette.setColor(role, colour ? QColor(QLatin1String(colour)) : QApplication::palette(control).color(role));
}

}  // namespace

void ControlBuilder::place(QWidget* control, const char* name, Twips at, int tab, Look look, Surface surface)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(pixels(at.left), pixels(at.top), pixels(at.width), pixels(at.height));
    if (look.points > 0)
        control->setFont(designFont(look.points));

    QPalette palette = control->palette();
    switch (surface) {
    case Surface::Window:
        setRole(palette, QPalette::Window, look.back, control);
        setRole(palette, QPalette::WindowText, look.text, control);
        setRole(palette, QPalette::Text, look.text, control);  // frame titles are drawn in it
        control->setBackgroundRole(QPalette::Window);          // buttons of every kind fill with Button
        control->setAutoFillBackground(true);
        break;
    case Surface::Button:
        setRole(palette, QPalette::Button, look.back, control);
        setRole(palette, QPalette::ButtonText, look.text, control);
        break;
    case Surface::Base:
        setRole(palette, QPalette::Base, look.back, control);
        setRole(palette, QPalette::Text, look.text, control);
        break;
    }
    control->setPalette(palette);
    byTab_.emplace_back(tab, control);
}

QGroupBox* ControlBuilder::frame(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look)
{
    auto* frame = new QGroupBox(caption, in);
    place(frame, name, at, tab, look, Surface::Window);
    return frame;
}

QPushButton* ControlBuilder::button(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look)
{
    auto* button = new QPushButton(caption, in);
    button->setAutoDefault(false);
    place(button, name, at, tab, look, Surface::Button);
    return button;
}

QLineEdit* ControlBuilder::textBox(QWidget* in, const char* name, const QString& text, Twips at, int tab, Look look)
{
    auto* box = new QLineEdit(text, in);
    place(box, name, at, tab, look, Surface::Base);
    return box;
}

QRadioButton* ControlBuilder::option(QWidget* in, const char* name, const QString& caption, Twips at, int tab,
                                     Look look)
{
    auto* option = new QRadioButton(caption, in);
    place(option, name, at, tab, look, Surface::Window);
    return option;
}

QCheckBox* ControlBuilder::checkBox(QWidget* in, const char* name, const QString& caption, Twips at, int tab, Look look)
{
    auto* box = new QCheckBox(caption, in);
    place(box, name, at, tab, look, Surface::Window);
    return box;
}

QSlider* ControlBuilder::slider(QWidget* in, const char* name, Twips at, int tab)
{
    auto* slider = new QSlider(Qt::Horizontal, in);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(10);
    slider->setSingleStep(1);
    slider->setPageStep(5);
    place(slider, name, at, tab, {}, Surface::Window);
    return slider;
}

QProgressBar* ControlBuilder::progressBar(QWidget* in, const char* name, Twips at, int tab)
{
    auto* bar = new QProgressBar(in);
    bar->setTextVisible(false);
    place(bar, name, at, tab, {}, Surface::Window);
    return bar;
}

void ControlBuilder::applyTabOrder()
{
    std::stable_sort(byTab_.begin(), byTab_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QWidget* previous = nullptr;
    for (const auto& [tab, control] : byTab_) {
        if (!(control->focusPolicy() & Qt::TabFocus))
            continue;  // frames and the progress bar keep their number but never take the focus
        if (previous)
            QWidget::setTabOrder(previous, control);
        else
            control->setFocus();  // the first in the order has the focus when the window opens
        previous = control;
    }
}
