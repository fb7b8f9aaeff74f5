#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <functional>

#include "session/clock.h"

namespace vantory {

// The window model's clock and timer, from Qt's monotonic clock and event loop.
class QtClock : public Clock {
  public:
    QtClock() { started_.start(); }
    int64_t nowMilliseconds() const override { return started_.elapsed(); }

  private:
    QElapsedTimer started_;
};

class QtTimer : public Timer {
  public:
    // A parent and name make the timer one of its parent's children, which finds it by name.
    explicit QtTimer(std::function<void()> fired, QObject* parent = nullptr,
                     const char* name = nullptr) {
        timer_.setParent(parent);
        timer_.setObjectName(QString::fromLatin1(name));
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, std::move(fired));
    }
    void start(int64_t milliseconds) override {
        timer_.start(static_cast<int>(std::min<int64_t>(milliseconds, INT32_MAX)));
    }
    void stop() override { timer_.stop(); }

  private:
    QTimer timer_;
};

}  // namespace vantory
