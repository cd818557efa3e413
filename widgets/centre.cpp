#include "widgets/centre.h"

#include <QScreen>
#include <QWidget>

void centreOnScreen(QWidget* window)
{
    const QSize screen = window->screen()->geometry().size();
    const QSize outer = window->frameGeometry().size();
    const double left = (screen.width() - outer.width()) / 2.0;
    const double top = (screen.height() - outer.height()) / 2.0;
    window->move(qRound(left), window->y());
    window->move(window->x(), qRound(top));
}
