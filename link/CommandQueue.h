#pragma once

// Commands from the window thread to the worker: one producer, one consumer, kept in
// the order of posting, without locks and without allocation.

#include "DeviceProtocol.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

struct TCommand {
    int Code = 0;
    std::int32_t Argument = 0;
    TSettingsBlock Settings{};
};

class TCommandQueue {
public:
    // Window thread. False, and nothing queued, when the queue is full.
    bool Post(const TCommand& command) {
        const std::size_t tail = fTail.load(std::memory_order_relaxed);
        if (tail - fHead.load(std::memory_order_acquire) == CAPACITY)
            return false;
        fItems[tail % CAPACITY] = command;
        fTail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Worker thread. False when nothing is queued.
    bool Take(TCommand& command) {
        const std::size_t head = fHead.load(std::memory_order_relaxed);
        if (head == fTail.load(std::memory_order_acquire))
            return false;
        command = fItems[head % CAPACITY];
        fHead.store(head + 1, std::memory_order_release);
        return true;
    }

    // Drops everything queued; only while no worker runs.
    void Clear() { fHead.store(fTail.load()); }

private:
    // Far more than an operator can click while the worker takes one per cycle.
    static constexpr std::size_t CAPACITY = 64;
    std::array<TCommand, CAPACITY> fItems{};
    std::atomic<std::size_t> fHead{0};
    std::atomic<std::size_t> fTail{0};
};
