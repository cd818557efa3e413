// Holds back, while it lives, the events of some windows that must not be acted on yet (a run
// blocks the windows' input but lets them paint, and the platform still delivers requests to
// close or activate them meanwhile). When it goes, each held request is carried out once, in
// the order it came.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <initializer_list>
#include <utility>
#include <vector>

class QWidget;

class EventHold : public QObject {
public:
    EventHold() = default;
    ~EventHold() override;

    // Holds `window`'s events of the given types: QEvent::Close, QEvent::WindowActivate.
    void hold(QWidget* window, std::initializer_list<QEvent::Type> types);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<std::pair<QPointer<QWidget>, QEvent::Type>> watched_;
    std::vector<std::pair<QPointer<QWidget>, QEvent::Type>> held_;
};
