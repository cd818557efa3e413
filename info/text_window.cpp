#include "info/text_window.h"

#include <QEvent>
#include <QPainter>

bool TextWindow::event(QEvent* event)
{
    // A window that has just closed itself can still be told it is active while the activation
    // that closed it unwinds; only a shown window counts as activated.
    if (event->type() == QEvent::WindowActivate && isVisible())
        Form_Activate();
    return QWidget::event(event);
}

void TextWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    text_.paint(painter);
}
