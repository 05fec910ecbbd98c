#pragma once

// The event loop's end of the signals a program takes as data (see SignalFile.h).

#include "SignalFile.h"

#include <QSocketNotifier>
#include <functional>

class TSignalWatch {
public:
    using THandler = std::function<void(int signal)>;

    // Runs handler on the calling thread's event loop for every signal of set that
    // arrives; they must be blocked in every thread (BlockSignals).
    TSignalWatch(const sigset_t& set, THandler handler);
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

private:
    void TakeAll();

    TSignalFile fFile;
    THandler fHandler;
    QSocketNotifier fNotifier;
};
