#pragma once

// Lines for a file descriptor, written by a thread of their own, so that whoever produces
// them never waits for the reader. While the reader lags, at most a bounded number of
// bytes wait; lines beyond that are dropped and counted, and a note of how many went
// missing goes out before the next line that fits.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TLineOutput {
public:
    // The note written in place of dropped lines, given their number.
    using TDropNote = std::function<std::string(std::uint64_t dropped)>;
    // Told once, on the writer's thread, that a write failed.
    using TFailed = std::function<void()>;

    static constexpr std::size_t DEFAULT_LIMIT = 1 << 20;

    TLineOutput(int fd, TDropNote dropNote, std::size_t limitBytes = DEFAULT_LIMIT,
                TFailed failed = {});
    // Does not wait for the writer: one blocked in a write is left to end with the process.
    ~TLineOutput();
    TLineOutput(const TLineOutput&) = delete;
    TLineOutput& operator=(const TLineOutput&) = delete;

    // Queues line and a line end; never blocks on the reader.
    void Put(const std::string& line);
    // Waits until every line queued so far is written, at most timeout. True when it was.
    bool Flush(std::chrono::milliseconds timeout);

    // Lines dropped because the queue was full or the descriptor failed.
    std::uint64_t Dropped() const;
    // Bytes queued and not yet written.
    std::size_t Pending() const;
    // The system's reason when a write failed (the reader went away); empty otherwise.
    std::string Failure() const;
    // True when a write failed because nobody reads the descriptor any more: a pipe whose
    // reader closed it, as "| head -1" does once it has what it wanted.
    bool ReaderGone() const;

private:
    struct TShared;
    std::shared_ptr<TShared> fShared;
};
