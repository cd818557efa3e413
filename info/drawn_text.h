// Text drawn onto a window as onto a page: each line goes at the current position, which then
// moves to the left edge one line lower; an empty line only moves it. What is drawn is kept and
// painted again whenever the window is uncovered; what falls outside the client area is cut off.
#pragma once

#include <QString>
#include <vector>

class QPainter;
class QWidget;

class DrawnText {
public:
    explicit DrawnText(QWidget* surface) : surface_(surface) {}

    void print(const QString& line);
    void paint(QPainter& painter) const;

    int position() const { return position_; }  // top of the next line, in pixels
    int lineHeight() const;

    struct Line {
        int top;
        QString text;
    };
    const std::vector<Line>& lines() const { return lines_; }  // those that show, in drawing order

private:
    QWidget* surface_;
    int position_ = 0;
    std::vector<Line> lines_;
};
