#include "widgets/event_hold.h"

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>

void EventHold::hold(QWidget* window, std::initializer_list<QEvent::Type> types)
{
    if (!window)
        return;
    for (const QEvent::Type type : types)
        watched_.emplace_back(window, type);
    window->installEventFilter(this);
}

bool EventHold::eventFilter(QObject* watched, QEvent* event)
{
    const auto entry = std::make_pair(QPointer<QWidget>(qobject_cast<QWidget*>(watched)), event->type());
    if (std::find(watched_.begin(), watched_.end(), entry) == watched_.end())
        return false;
    if (std::find(held_.begin(), held_.end(), entry) == held_.end())
        held_.push_back(entry);
    event->ignore();
    return true;
}

EventHold::~EventHold()
{
    for (const auto& [window, type] : watched_)
        if (window)
            window->removeEventFilter(this);
    // Carried out from the event loop, once the code that held them has returned.
    for (const auto& [window, type] : held_) {
        if (!window)
            continue;  // gone meanwhile
        if (type == QEvent::Close)
            QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
        else
            QCoreApplication::postEvent(window, new QEvent(type));
    }
}
