#include "info/drawn_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

int DrawnText::lineHeight() const { return QFontMetrics(surface_->font()).lineSpacing(); }

void DrawnText::print(const QString& line)
{
    const int top = position_;
    position_ += lineHeight();
    if (line.isEmpty() || top >= surface_->height())
        return;
    lines_.push_back({top, line});
    surface_->update(0, top, surface_->width(), lineHeight());
}

void DrawnText::paint(QPainter& painter) const
{
    painter.setFont(surface_->font());
    painter.setPen(surface_->palette().color(QPalette::WindowText));
    const int ascent = QFontMetrics(surface_->font()).ascent();
    for (const Line& line : lines_)
        painter.drawText(0, line.top + ascent, line.text);
}
