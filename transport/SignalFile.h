#pragma once

// Signals taken as data: blocked in every thread of the program, then read one at a time,
// from a file descriptor that an event loop can watch, or with sigwait.

#include <csignal>
#include <initializer_list>

sigset_t SignalSet(std::initializer_list<int> numbers);

// Blocks the signals of set for the calling thread and every thread started from it
// later; to be called before the program starts any thread.
void BlockSignals(const sigset_t& set);

// The blocked signals of a set as they arrive.
class TSignalFile {
public:
    // Throws std::runtime_error when the system gives no descriptor.
    explicit TSignalFile(const sigset_t& set);
    ~TSignalFile();
    TSignalFile(const TSignalFile&) = delete;
    TSignalFile& operator=(const TSignalFile&) = delete;

    // Readable while a signal is waiting.
    int Descriptor() const { return fFile; }
    // The next signal that arrived, or 0.
    int Take() const;

private:
    int fFile = -1;
};
