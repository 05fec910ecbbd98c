#include "LineOutput.h"

#include "SignalFile.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>

struct TLineOutput::TShared {
    int Fd;
    TDropNote DropNote;
    std::size_t Limit;
    TFailed Failed;

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::string> Queue;
    std::size_t Pending = 0;
    // Dropped since the last note, and in all.
    std::uint64_t Missing = 0;
    std::uint64_t Dropped = 0;
    bool Writing = false;
    bool Closing = false;
    std::string Failure;
    bool ReaderGone = false;

    bool Fits(std::size_t size) const { return Failure.empty() && Pending + size <= Limit; }

    void Enqueue(std::string text) {
        Pending += text.size();
        Queue.push_back(std::move(text));
        Changed.notify_all();
    }

    bool WriteAll(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t wrote = ::write(Fd, text.data() + done, text.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote < 0) {
                const int error = errno;
                std::lock_guard<std::mutex> hold(Lock);
                Failure = std::strerror(error);
                ReaderGone = error == EPIPE;
                return false;
            }
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    // The writer thread: one line at a time, without the lock while it writes.
    void Run() {
        // A reader that went away shows as a failed write here, not as a signal that ends
        // the program before it has closed its link.
        BlockSignals(SignalSet({SIGPIPE}));
        std::unique_lock<std::mutex> hold(Lock);
        for (;;) {
            Changed.wait(hold, [this] { return Closing || !Queue.empty(); });
            if (Queue.empty())
                return;
            std::string text = std::move(Queue.front());
            Queue.pop_front();
            Writing = true;
            hold.unlock();
            const bool written = WriteAll(text);
            // Once only: nothing is queued after a failure.
            if (!written && Failed)
                Failed();
            hold.lock();
            Writing = false;
            Pending -= text.size();
            if (!written) {
                Dropped += 1 + Queue.size();
                Queue.clear();
                Pending = 0;
            }
            Changed.notify_all();
        }
    }
};

TLineOutput::TLineOutput(int fd, TDropNote dropNote, std::size_t limitBytes, TFailed failed)
    : fShared(std::make_shared<TShared>()) {
    fShared->Fd = fd;
    fShared->DropNote = std::move(dropNote);
    fShared->Limit = limitBytes;
    fShared->Failed = std::move(failed);
    std::thread([shared = fShared] { shared->Run(); }).detach();
}

TLineOutput::~TLineOutput() {
    std::lock_guard<std::mutex> hold(fShared->Lock);
    fShared->Closing = true;
    fShared->Changed.notify_all();
}

void TLineOutput::Put(const std::string& line) {
    TShared& s = *fShared;
    std::lock_guard<std::mutex> hold(s.Lock);
    std::string text = line + '\n';
    if (s.Missing > 0) {
        std::string note = s.DropNote(s.Missing) + '\n';
        if (!s.Fits(note.size() + text.size())) {
            ++s.Missing;
            ++s.Dropped;
            return;
        }
        s.Missing = 0;
        s.Enqueue(std::move(note));
    }
    if (!s.Fits(text.size())) {
        ++s.Missing;
        ++s.Dropped;
        return;
    }
    s.Enqueue(std::move(text));
}

bool TLineOutput::Flush(std::chrono::milliseconds timeout) {
    TShared& s = *fShared;
    std::unique_lock<std::mutex> hold(s.Lock);
    return s.Changed.wait_for(hold, timeout, [&s] { return s.Queue.empty() && !s.Writing; }) &&
           s.Failure.empty();
}

std::uint64_t TLineOutput::Dropped() const {
    std::lock_guard<std::mutex> hold(fShared->Lock);
    return fShared->Dropped;
}

std::size_t TLineOutput::Pending() const {
    std::lock_guard<std::mutex> hold(fShared->Lock);
    return fShared->Pending;
}

std::string TLineOutput::Failure() const {
    std::lock_guard<std::mutex> hold(fShared->Lock);
    return fShared->Failure;
}

bool TLineOutput::ReaderGone() const {
    std::lock_guard<std::mutex> hold(fShared->Lock);
    return fShared->ReaderGone;
}
