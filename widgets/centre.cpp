#include "widgets/centre.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace {

bool frameIsKnown(const QWidget* window) { return window->frameGeometry().size() != window->size(); }

void centreByOuterSize(QWidget* window)
{
    const QSize screen = window->screen()->geometry().size();
    const QSize outer = window->frameGeometry().size();
    const double left = (screen.width() - outer.width()) / 2.0;
    const double top = (screen.height() - outer.height()) / 2.0;
    window->move(qRound(left), window->y());
    window->move(window->x(), qRound(top));
}

// Waits for the move with which a shown window learns its frame, then centres it again.
class FrameWatch : public QObject {
public:
    explicit FrameWatch(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Move && frameIsKnown(window_)) {
            window_->removeEventFilter(this);
            centreByOuterSize(window_);
            deleteLater();
        }
        return false;
    }

private:
    QWidget* window_;
};

}  // namespace

void centreOnScreen(QWidget* window)
{
    centreByOuterSize(window);
    if (!frameIsKnown(window))
        new FrameWatch(window);
}
