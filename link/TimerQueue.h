#pragma once

// Deadlines of many parties, at most one each, the earliest always at hand: a binary heap
// in which every party knows its place, so that a deadline is set, moved or cancelled in
// logarithmic time and the heap never holds more entries than parties.

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

// A party's deadline and place in a timer queue; only the queue changes it.
struct TTimerSlot {
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    std::chrono::steady_clock::time_point Deadline{};
    std::size_t Index = NONE;
};

// T has a public member TTimerSlot Timer.
template <typename T> class TTimerQueue {
public:
    using TTime = std::chrono::steady_clock::time_point;

    bool Empty() const { return fHeap.empty(); }
    // The earliest deadline; the queue must not be empty.
    TTime Earliest() const { return fHeap.front()->Timer.Deadline; }

    // Sets or moves party's deadline.
    void Set(T& party, TTime deadline) {
        TTimerSlot& slot = party.Timer;
        const bool later = slot.Index != TTimerSlot::NONE && deadline > slot.Deadline;
        slot.Deadline = deadline;
        if (slot.Index == TTimerSlot::NONE) {
            slot.Index = fHeap.size();
            fHeap.push_back(&party);
        }
        if (later)
            Down(slot.Index);
        else
            Up(slot.Index);
    }

    void Cancel(T& party) {
        const std::size_t index = party.Timer.Index;
        if (index == TTimerSlot::NONE)
            return;
        party.Timer.Index = TTimerSlot::NONE;
        T* last = fHeap.back();
        fHeap.pop_back();
        if (index == fHeap.size())
            return;
        Place(index, last);
        Down(index);
        Up(last->Timer.Index);
    }

    // Takes the party with the earliest deadline off the queue if that deadline is not
    // after now; null otherwise.
    T* PopDue(TTime now) {
        if (fHeap.empty() || fHeap.front()->Timer.Deadline > now)
            return nullptr;
        T* due = fHeap.front();
        Cancel(*due);
        return due;
    }

private:
    void Place(std::size_t index, T* party) {
        fHeap[index] = party;
        party->Timer.Index = index;
    }

    bool Before(std::size_t a, std::size_t b) const {
        return fHeap[a]->Timer.Deadline < fHeap[b]->Timer.Deadline;
    }

    void Swap(std::size_t a, std::size_t b) {
        T* first = fHeap[a];
        Place(a, fHeap[b]);
        Place(b, first);
    }

    void Up(std::size_t index) {
        while (index > 0 && Before(index, (index - 1) / 2)) {
            Swap(index, (index - 1) / 2);
            index = (index - 1) / 2;
        }
    }

    void Down(std::size_t index) {
        for (;;) {
            std::size_t least = index;
            for (std::size_t child = 2 * index + 1; child <= 2 * index + 2; ++child) {
                if (child < fHeap.size() && Before(child, least))
                    least = child;
            }
            if (least == index)
                return;
            Swap(index, least);
            index = least;
        }
    }

    std::vector<T*> fHeap;
};
