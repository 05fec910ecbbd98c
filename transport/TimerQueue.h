#pragma once

// Deadlines of many parties, at most one each, the earliest always at hand: a binary heap
// in which every party knows its place, so that a deadline is set, moved or cancelled in
// logarithmic time and the heap never holds more entries than parties.

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

// A party's place in a timer queue; only the queue changes it.
struct TTimerSlot {
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    std::size_t Index = NONE;
};

// T has a public member TTimerSlot Timer.
template <typename T> class TTimerQueue {
public:
    using TTime = std::chrono::steady_clock::time_point;

    bool Empty() const { return fHeap.empty(); }
    // The earliest deadline; the queue must not be empty.
    TTime Earliest() const { return fHeap.front().Deadline; }

    // Sets or moves party's deadline.
    void Set(T& party, TTime deadline) {
        std::size_t index = party.Timer.Index;
        if (index == TTimerSlot::NONE) {
            index = fHeap.size();
            fHeap.push_back({deadline, &party});
            party.Timer.Index = index;
            return Up(index);
        }
        const bool later = deadline > fHeap[index].Deadline;
        fHeap[index].Deadline = deadline;
        if (later)
            Down(index);
        else
            Up(index);
    }

    void Cancel(T& party) {
        const std::size_t index = party.Timer.Index;
        if (index == TTimerSlot::NONE)
            return;
        party.Timer.Index = TTimerSlot::NONE;
        const TEntry last = fHeap.back();
        fHeap.pop_back();
        if (index == fHeap.size())
            return;
        Place(index, last);
        Down(index);
        Up(last.Party->Timer.Index);
    }

    // Takes the party with the earliest deadline off the queue if that deadline is not
    // after now; null otherwise.
    T* PopDue(TTime now) {
        if (fHeap.empty() || fHeap.front().Deadline > now)
            return nullptr;
        T* due = fHeap.front().Party;
        Cancel(*due);
        return due;
    }

private:
    struct TEntry {
        TTime Deadline;
        T* Party;
    };

    void Place(std::size_t index, const TEntry& entry) {
        fHeap[index] = entry;
        entry.Party->Timer.Index = index;
    }

    bool Before(std::size_t a, std::size_t b) const {
        return fHeap[a].Deadline < fHeap[b].Deadline;
    }

    void Swap(std::size_t a, std::size_t b) {
        const TEntry first = fHeap[a];
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

    std::vector<TEntry> fHeap;
};
