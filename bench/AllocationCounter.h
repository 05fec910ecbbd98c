#pragma once

// Counts the heap allocations one thread makes while counting is on. The counter sits in
// malloc, calloc and realloc, which this program defines over the C library's own:
// operator new and Qt's containers both allocate through them, so nothing escapes it.
// Only the benchmark's executable may contain this unit.

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

struct TAllocationCount {
    // Every allocation the thread made.
    std::uint64_t All = 0;
    // Those of exactly the size asked to be noted.
    std::uint64_t OfNotedSize = 0;
};

// Starts counting, from 0, the allocations of the thread with system id thread, noting
// separately those of notedSize bytes.
void StartCountingAllocations(pid_t thread, std::size_t notedSize);

// Stops counting and returns the counts.
TAllocationCount StopCountingAllocations();
