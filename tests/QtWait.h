#pragma once

// Runs the calling thread's Qt event loop until a condition holds or the time is up.

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <thread>

inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs the event loop for a while, for checks that something does not happen.
inline void PumpFor(std::chrono::milliseconds period) {
    PumpUntil([] { return false; }, period);
}
